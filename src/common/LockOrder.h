#pragma once
// The library's locks, in the order they are taken: a thread holding one of them takes only
// locks further down this list. Each lock guards what its owner's header says; none is held
// across a Java call.
//
//  1. HandleRegistry: the order mutex (registration and retirement), then a shard's spin lock
//     (those and lookup). Held for the map operation alone, and by the poll of a report
//     while it takes one (which never waits); a lease is an atomic count, so any other
//     native call holds no registry lock while it runs.
//  2. USBDevice::m_openMutex: opening and closing take turns.
//  3. USBDevice::m_stateLock: the published libusb handle; transfers hold it shared.
//  4. EventThread::m_lifeMutex: starting and ending the event thread.
//  5. EventThread::m_mutex: the streams the event thread serves and their retry times.
//  6. ReportStream::m_mutex: a stream's transfers (submitted, parked, stopping).
//  7. USBDevice::m_infoMutex: the device's strings.
//
// The report queue itself has no lock: its producer and its pollers meet on atomic counts.
//
// Below them all are libusb's own locks. A transfer's completion runs under libusb's event
// lock, on whichever thread handles events: it may take 6, never 1 to 5, and waits for no
// poll, close or Java call. The notification subsystems (notify/) and shared memory
// (shm/) have locks of their own that are never held together with these.

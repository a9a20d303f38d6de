// Connects umockdev's ioctl handler objects to emulated devices. Every
// device node path gets one UMockdevIoctlBase for the life of the process;
// a replug at the same path routes new file descriptors to the new device
// while descriptors opened before keep pointing at the old, unplugged one.
//
// The callbacks run on umockdev's single ioctl worker thread. They take
// only m_mutex here and the device's own lock, never the emulator's, so a
// test thread holding the emulator lock while it calls into umockdev
// cannot deadlock against them.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "Device.h"

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _GObject GObject;

namespace nsemu {

class IoctlRouter {
public:
    explicit IoctlRouter(UMockdevTestbed* testbed, std::string rootDir);
    ~IoctlRouter();

    // Makes sure node has a handler; call before the node file exists.
    void attach(const std::string& node);
    // The device new opens of node reach; null when nothing is plugged there.
    void route(const std::string& node, std::shared_ptr<Device> device);

private:
    static void onConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self);
    // umockdev 0.17 never emits "client-vanished"; a closed descriptor
    // shows as its client object going away.
    static void onClientFinalized(void* self, GObject* client);
    static int onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self);

    std::string nodeOf(UMockdevIoctlClient* client) const;
    std::shared_ptr<Device> deviceOf(UMockdevIoctlClient* client);

    UMockdevTestbed* m_testbed;
    std::string m_rootDir;
    std::map<std::string, UMockdevIoctlBase*> m_handlers;  // touched by test threads only

    std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<Device>> m_current;      // node -> plugged device
    std::map<const void*, std::shared_ptr<Device>> m_clients;      // fd -> device it opened
};

}  // namespace nsemu

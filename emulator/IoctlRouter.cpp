#include "IoctlRouter.h"

#include <umockdev.h>

#include <cerrno>
#include <stdexcept>

#include "Usbdevfs.h"

namespace nsemu {

IoctlRouter::IoctlRouter(UMockdevTestbed* testbed, std::string rootDir)
    : m_testbed(testbed), m_rootDir(std::move(rootDir))
{
}

IoctlRouter::~IoctlRouter()
{
    for (auto& entry : m_handlers) {
        umockdev_testbed_detach_ioctl(m_testbed, entry.first.c_str(), nullptr);
        g_object_unref(entry.second);
    }
}

void IoctlRouter::attach(const std::string& node)
{
    if (m_handlers.count(node))
        return;
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "client-connected", G_CALLBACK(onConnected), this);
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(onIoctl), this);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(m_testbed, node.c_str(), handler, &error)) {
        std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        g_object_unref(handler);
        throw std::runtime_error("attach ioctl handler to " + node + ": " + message);
    }
    m_handlers[node] = handler;
}

void IoctlRouter::route(const std::string& node, std::shared_ptr<Device> device)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (device)
        m_current[node] = std::move(device);
    else
        m_current.erase(node);
}

std::string IoctlRouter::nodeOf(UMockdevIoctlClient* client) const
{
    std::string node = umockdev_ioctl_client_get_devnode(client);
    if (node.compare(0, m_rootDir.size(), m_rootDir) == 0)
        node.erase(0, m_rootDir.size());
    return node;
}

std::shared_ptr<Device> IoctlRouter::deviceOf(UMockdevIoctlClient* client)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_clients.find(client);
    return it == m_clients.end() ? nullptr : it->second;
}

void IoctlRouter::onConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self)
{
    auto* router = static_cast<IoctlRouter*>(self);
    std::shared_ptr<Device> device;
    {
        std::lock_guard<std::mutex> lock(router->m_mutex);
        auto it = router->m_current.find(router->nodeOf(client));
        if (it != router->m_current.end())
            device = it->second;
        router->m_clients[client] = device;
    }
    g_object_weak_ref(G_OBJECT(client), onClientFinalized, router);
    if (device)
        device->clientConnected(client);
}

void IoctlRouter::onClientFinalized(void* self, GObject* client)
{
    auto* router = static_cast<IoctlRouter*>(self);
    std::shared_ptr<Device> device;
    {
        std::lock_guard<std::mutex> lock(router->m_mutex);
        auto it = router->m_clients.find(client);
        if (it == router->m_clients.end())
            return;
        device = std::move(it->second);
        router->m_clients.erase(it);
    }
    if (device)
        device->clientGone(client);
}

int IoctlRouter::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self)
{
    auto* router = static_cast<IoctlRouter*>(self);
    std::shared_ptr<Device> device = router->deviceOf(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    void* pointer = arg && arg->data ? *reinterpret_cast<void**>(arg->data) : nullptr;
    const IoctlResult r =
        handleUsbdevfs(device.get(), client, umockdev_ioctl_client_get_request(client), pointer);
    umockdev_ioctl_client_complete(client, r.result, r.error);
    return TRUE;
}

}  // namespace nsemu

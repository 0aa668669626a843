#pragma once
// The abstract objects a plugin and its host exchange. Hosts dispatch by slot,
// so the order of the virtual operations below is the binary interface: never
// reorder, insert or remove one. The slot numbers are given in the comments.

#include <common/export.hpp>
#include <plugins/kit/databuffer.hpp>

#include <vector>

namespace asyncioplugin {
namespace interfaces {

// A named value; readers find the concrete kind by dynamic_cast.
class MM_EXPORT IPropertyInfo {
public:
    virtual const char* getName() const = 0;  // 0
    virtual void destroy() = 0;               // 1
    virtual ~IPropertyInfo() {}               // 2, 3
};

// A message handed to the host; the host releases it with destroy().
class MM_EXPORT IMessageInfo {
public:
    virtual const char* getType() = 0;     // 0
    virtual const char* getId() = 0;       // 1
    virtual const char* getMessage() = 0;  // 2
    virtual void destroy() = 0;            // 3
    virtual ~IMessageInfo() {}             // 4, 5
};

using PropertyList = std::vector<IPropertyInfo*>;

namespace device {

class IDataSource;
class IDataSourcePolling;

// Opaque to reader devices, which have no sink.
class IDataSink;

// The host side of a device: the only operation a device ever calls.
class MM_EXPORT IDeviceHost {
public:
    virtual void postMessage(IMessageInfo* message) = 0;  // 0
    virtual ~IDeviceHost() {}
};

class MM_EXPORT IControl {
public:
    virtual void initialize(const PropertyList& inputs, PropertyList& outputs) = 0;  // 0
    virtual IDataSource* getDataSource() = 0;                                       // 1
    virtual IDataSink* getDataSink() = 0;                                           // 2
    virtual void start(const PropertyList& inputs) = 0;                             // 3
    virtual void pause() = 0;                                                       // 4
    virtual void stop() = 0;                                                        // 5
    virtual void destroy() = 0;                                                     // 6
    virtual ~IControl() {}                                                          // 7, 8
};

class MM_EXPORT IDataSource {
public:
    virtual bool isDone() = 0;                                 // 0
    virtual IDataSourcePolling* getDataSourcePolling() = 0;    // 1
    // Slots 2 to 4 serve other kinds of source; reader devices keep these defaults.
    virtual void reserved0() {}                                // 2
    virtual long reserved1() { return 0; }                     // 3
    virtual long reserved2() { return 0; }                     // 4
    virtual ~IDataSource() {}                                  // 5, 6
};

class MM_EXPORT IDataSourcePolling {
public:
    virtual double getPollingPeriod() = 0;  // 0
    virtual bool isDataAvailable() = 0;     // 1
    virtual IDataBuffer* getData() = 0;     // 2
    virtual ~IDataSourcePolling() {}        // 3, 4
};

}  // namespace device
}  // namespace interfaces
}  // namespace asyncioplugin

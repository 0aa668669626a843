#pragma once
// Named properties: settings going into a device and results coming out.
// A property has no virtual accessor for its value; a reader finds it by name,
// checks its exact dynamic type and reads `value` directly.

#include <plugins/kit/interfaces.hpp>

#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace asyncioplugin {
namespace kit {
namespace device {

// Scalar values: bool, double and std::u16string (UTF-16 text).
template <class T>
class MM_EXPORT TScalarProperty : public interfaces::IPropertyInfo {
public:
    TScalarProperty() : value() {}
    TScalarProperty(std::string propertyName, T propertyValue)
        : name(std::move(propertyName)), value(std::move(propertyValue)) {}

    const char* getName() const override { return name.c_str(); }
    void destroy() override { delete this; }

    std::string name;
    T value;
};

// Byte vectors (a colormap, for instance).
template <class T>
class MM_EXPORT TVectorProperty : public interfaces::IPropertyInfo {
public:
    TVectorProperty() = default;
    TVectorProperty(std::string propertyName, std::vector<T> propertyValue)
        : name(std::move(propertyName)), value(std::move(propertyValue)) {}

    const char* getName() const override { return name.c_str(); }
    void destroy() override { delete this; }

    std::string name;
    std::vector<T> value;
};

using BoolProperty = TScalarProperty<bool>;
using DoubleProperty = TScalarProperty<double>;
using TextProperty = TScalarProperty<std::u16string>;
using BytesProperty = TVectorProperty<unsigned char>;

// The first property whose name equals `name` exactly, or null. Null entries
// and entries without a name are skipped rather than dereferenced.
inline const interfaces::IPropertyInfo* findByName(const interfaces::PropertyList& properties,
                                                   const char* name) {
    for (const interfaces::IPropertyInfo* property : properties) {
        if (property == nullptr) continue;
        const char* candidate = property->getName();
        if (candidate != nullptr && std::strcmp(candidate, name) == 0) return property;
    }
    return nullptr;
}

// The first property named `name` if it is exactly a P; a name match of another
// kind counts as absent (the search does not go on to later entries).
template <class P>
const P* findProperty(const interfaces::PropertyList& properties, const char* name) {
    return dynamic_cast<const P*>(findByName(properties, name));
}

// The value of the scalar property `name`, or `fallback` when it is missing or mistyped.
template <class T>
T scalarOr(const interfaces::PropertyList& properties, const char* name, T fallback) {
    const auto* property = findProperty<TScalarProperty<T>>(properties, name);
    return property != nullptr ? property->value : std::move(fallback);
}

template <class T>
std::optional<T> scalar(const interfaces::PropertyList& properties, const char* name) {
    const auto* property = findProperty<TScalarProperty<T>>(properties, name);
    if (property == nullptr) return std::nullopt;
    return property->value;
}

// Appends a new scalar property; it belongs to whoever owns `properties` from then on.
template <class T>
void publish(interfaces::PropertyList& properties, const char* name, T value) {
    properties.reserve(properties.size() + 1);  // so push_back cannot throw after the new
    properties.push_back(new TScalarProperty<T>(name, std::move(value)));
}

inline void publishBytes(interfaces::PropertyList& properties, const char* name,
                         std::vector<unsigned char> bytes) {
    properties.reserve(properties.size() + 1);
    properties.push_back(new TVectorProperty<unsigned char>(name, std::move(bytes)));
}

}  // namespace device
}  // namespace kit
}  // namespace asyncioplugin

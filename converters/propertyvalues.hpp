#pragma once
// Translation between kit scalar properties and single `any` values, shared
// by the converters. Each converter lists the value types it handles; these
// helpers try one type at a time and answer null when it does not match, so
// a converter's operation is the first non-null answer in its own order.
//
// Nothing here throws: allocation failure is answered with null as well,
// because a converter never lets an exception reach its host.

#include <plugins/kit/properties.hpp>

#include <boost/any.hpp>

#include <new>

namespace asyncioplugin {
namespace converter_detail {

// A new `any` holding a copy of the property's value when the property is
// exactly a TScalarProperty<T>; null otherwise.
template <class T>
boost::any* valueOf(const interfaces::IPropertyInfo* property) noexcept {
    const auto* scalar = dynamic_cast<const kit::device::TScalarProperty<T>*>(property);
    if (scalar == nullptr) {
        return nullptr;
    }
    try {
        return new boost::any(scalar->value);
    } catch (...) {
        return nullptr;
    }
}

// A new TScalarProperty<T> named `name` when `value` holds exactly a T;
// null otherwise.
template <class T>
interfaces::IPropertyInfo* propertyOf(const char* name, const boost::any* value) noexcept {
    const T* held = boost::any_cast<T>(value);
    if (held == nullptr) {
        return nullptr;
    }
    try {
        return new kit::device::TScalarProperty<T>(name, *held);
    } catch (...) {
        return nullptr;
    }
}

// The first non-null valueOf<T> over the types, in their order.
template <class... T>
boost::any* firstValueOf(const interfaces::IPropertyInfo* property) noexcept {
    boost::any* value = nullptr;
    ((value = value != nullptr ? value : valueOf<T>(property)), ...);
    return value;
}

// The first non-null propertyOf<T> over the types, in their order; null
// without a name.
template <class... T>
interfaces::IPropertyInfo* firstPropertyOf(const char* name, const boost::any* value) noexcept {
    if (name == nullptr) {
        return nullptr;
    }
    interfaces::IPropertyInfo* property = nullptr;
    ((property = property != nullptr ? property : propertyOf<T>(name, value)), ...);
    return property;
}

}  // namespace converter_detail
}  // namespace asyncioplugin

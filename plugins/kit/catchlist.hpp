#pragma once
// A catch list: the ordered table by which a reader plugin replaces a reader
// exception with a common exception. The first entry whose type matches the
// caught exception wins, exactly like a chain of catch clauses; an exception
// no entry matches becomes a ReadFailedException.
//
//   using OpenFailures = CatchList<
//       WithMessage<qsVideoReader::PluginRequirementException, ex::PluginRequirementException>,
//       Becomes<qsVideoReader::InitializationFailedException, ex::InitializationFailedException>,
//       Otherwise<ex::ReadFailedException>>;
//
//   OpenFailures::translate(std::current_exception(), [&](const ex::Exception& e) { ... });
//
// The handler receives a fresh common exception of the mapped type; a generic
// handler (`[](const auto& e) { throw e; }`) sees its exact type.

#include <common/exceptions/exceptions.hpp>

#include <exception>

namespace asyncioplugin {
namespace kit {
namespace device {

// A caught `Caught` becomes a `Reported` made without arguments.
template <class Caught, class Reported>
struct Becomes {
    template <class Handler>
    static bool apply(const std::exception_ptr& failure, Handler& handle) {
        try {
            std::rethrow_exception(failure);
        } catch (const Caught&) {
            handle(Reported());
            return true;
        } catch (...) {
        }
        return false;
    }
};

// A caught `Caught` becomes a `Reported` carrying the caught exception's text.
template <class Caught, class Reported>
struct WithMessage {
    template <class Handler>
    static bool apply(const std::exception_ptr& failure, Handler& handle) {
        try {
            std::rethrow_exception(failure);
        } catch (const Caught& caught) {
            handle(Reported(caught.what()));
            return true;
        } catch (...) {
        }
        return false;
    }
};

// Anything at all becomes a `Reported` made without arguments.
template <class Reported>
struct Otherwise {
    template <class Handler>
    static bool apply(const std::exception_ptr&, Handler& handle) {
        handle(Reported());
        return true;
    }
};

template <class... Entries>
struct CatchList;

template <>
struct CatchList<> {
    template <class Handler>
    static void translate(const std::exception_ptr&, Handler&& handle) {
        handle(multimedia::common::exceptions::ReadFailedException());
    }
};

template <class Entry, class... Rest>
struct CatchList<Entry, Rest...> {
    template <class Handler>
    static void translate(const std::exception_ptr& failure, Handler&& handle) {
        if (Entry::apply(failure, handle)) return;
        CatchList<Rest...>::translate(failure, handle);
    }
};

}  // namespace device
}  // namespace kit
}  // namespace asyncioplugin

#pragma once
// Turns libjpeg's fatal-error callback into a C++ exception, so a decoder or
// encoder unwinds normally instead of libjpeg printing a message and ending
// the process, and keeps libjpeg's warnings and trace output off stderr.
//
// Typical use:
//     jpeg_decompress_struct cinfo;
//     multimedia::common::jpeg::ErrorManager errors;
//     errors.install(cinfo);                 // before any other libjpeg call
//     jpeg_create_decompress(&cinfo);
//     try { ... } catch (const multimedia::common::jpeg::Exception&) { ... }
//     jpeg_destroy_decompress(&cinfo);       // also after an exception
// The manager must outlive every libjpeg call on the object it is installed on.
// Programs using it make the libjpeg calls themselves and so link libjpeg
// themselves (pkg-config module "libjpeg").

#include <common/export.hpp>

#include <boost/core/noncopyable.hpp>

#include <cstddef>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <stdexcept>
#include <string>

#include <jpeglib.h>

namespace multimedia {
namespace common {
namespace jpeg {

// A fatal libjpeg error; what() is libjpeg's formatted message text.
class MM_EXPORT Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message);
    ~Exception() override;
};

class MM_EXPORT ErrorManager : private boost::noncopyable {
public:
    // Leaves `record` zeroed; install() (or the caller by hand) fills it.
    ErrorManager();
    virtual ~ErrorManager();

    // Fills `record` with libjpeg's standard manager, replaces its error_exit
    // and output_message by the callbacks below and points the object's err
    // field at it. Call before jpeg_create_decompress/jpeg_create_compress.
    void install(jpeg_decompress_struct& decompressor);
    void install(jpeg_compress_struct& compressor);

    // libjpeg's fatal-error callback: formats the pending message with the
    // object's own format_message and throws Exception. The libjpeg object is
    // left as it is; the catcher aborts or destroys it.
    static void error_exit(jpeg_common_struct* object);
    // libjpeg's message-output callback: drops warnings and trace messages.
    static void output_message(jpeg_common_struct* object);

    // The record handed to libjpeg as its error manager.
    jpeg_error_mgr record;

private:
    jpeg_error_mgr* prepare();
};

}  // namespace jpeg
}  // namespace common
}  // namespace multimedia

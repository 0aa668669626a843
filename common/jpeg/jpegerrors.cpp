#include <common/jpeg/jpegerrors.hpp>

#include <cstring>

namespace multimedia {
namespace common {
namespace jpeg {

Exception::Exception(const std::string& message) : std::runtime_error(message) {}

Exception::~Exception() = default;

ErrorManager::ErrorManager() : record() {}

ErrorManager::~ErrorManager() = default;

jpeg_error_mgr* ErrorManager::prepare() {
    jpeg_std_error(&record);
    record.error_exit = &ErrorManager::error_exit;
    record.output_message = &ErrorManager::output_message;
    return &record;
}

void ErrorManager::install(jpeg_decompress_struct& decompressor) { decompressor.err = prepare(); }

void ErrorManager::install(jpeg_compress_struct& compressor) { compressor.err = prepare(); }

void ErrorManager::error_exit(jpeg_common_struct* object) {
    // libjpeg formats into at most JMSG_LENGTH_MAX characters; the buffer is
    // zeroed and its last byte kept NUL so a string is always built from a
    // terminated buffer.
    char text[JMSG_LENGTH_MAX];
    std::memset(text, 0, sizeof text);
    if (object != nullptr && object->err != nullptr && object->err->format_message != nullptr) {
        object->err->format_message(object, text);
        text[JMSG_LENGTH_MAX - 1] = '\0';
        throw Exception(text);
    }
    throw Exception("libjpeg error without an error manager to format it");
}

void ErrorManager::output_message(jpeg_common_struct*) {}

}  // namespace jpeg
}  // namespace common
}  // namespace multimedia

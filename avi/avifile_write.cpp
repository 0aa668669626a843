// Writing side of avi::File. Placeholder definitions so the library links;
// the writer replaces them.
#include <avi/avifile.hpp>

namespace avi {

void File::setVideoInfo(unsigned int, unsigned int, double, const std::string&, unsigned int) {}
void File::setVideoInfo(unsigned int, unsigned int, double, const std::string&) {}
void File::setVideoInfo(unsigned int, unsigned int, double) {}
void File::setAudioInfo(double, unsigned int, unsigned int, unsigned int) {}
void File::setColormap(const std::vector<avi::tagRGBQUAD>&) {}
void File::setNumSuperIndexEntries(unsigned long) {}
void File::writeVideoFrame(char*, unsigned int) {}
void File::writeVideoFrame(char*) {}
void File::writeAudio(char*) {}

std::uint32_t File::getHeaderLength() { return 0; }
std::uint32_t File::getStrlLength(unsigned char, unsigned int, unsigned long) { return 0; }
std::uint32_t File::getOpenDMLHeaderLength() { return 0; }
std::uint32_t File::getOpenDMLSuperIndexLength(unsigned long) { return 0; }
std::uint32_t File::getOpenDMLStandardIndexLength(unsigned long) { return 0; }
std::uint32_t File::getLegacyIndexLength() { return 0; }
std::uint32_t File::getMoviLength() { return 0; }
std::uint32_t File::getCurRiffChunkSize() { return 0; }
bool File::isFirstRiffChunk() { return false; }
bool File::atRiffBoundary(unsigned long) { return false; }

void File::initWriter() {}
void File::resetWriter() {}
void File::populateMainHeader() {}
void File::copyMainHeader2Buf(char*) {}
void File::populateVideoStreamHeader() {}
void File::populateAudioStreamHeader() {}
void File::copyStreamHeader2Buf(char*, unsigned int) {}
void File::populateBitmapHeader() {}
void File::copyBitmapHeader2Buf(char*) {}
void File::populateWaveHeader() {}
void File::copyWaveHeader2Buf(char*) {}
void File::writeHeader() {}
void File::writeVideoStreamHeader() {}
void File::writeAudioStreamHeader() {}
void File::writeOpenDMLHeader() {}
void File::writeChunk(const char*, unsigned int) {}
void File::writeList(const char*, unsigned int, const char*) {}
void File::writeMoviEntry(char*, unsigned int, unsigned int, char*, std::vector<avi::IndexEntry>&) {}
void File::updateRiffChunk(unsigned long) {}
void File::closeCurRiffChunk() {}
void File::writeAVIXChunk() {}
void File::writeOpenDMLStandardIndex(const char*, unsigned int, const std::vector<avi::IndexEntry>&,
                                     std::vector<avi::SuperIndexEntry>&) {}
void File::writeOpenDMLSuperIndex(const char*, const std::vector<avi::SuperIndexEntry>&) {}
void File::writeOpenDMLBaseIndex(const char*, unsigned short, unsigned char, unsigned int) {}
void File::populateOpenDMLBaseIndex(avi::aviindex_chunk&, const char*, unsigned short, unsigned char,
                                    unsigned int) {}
void File::copyOpenDMLBaseIndex2Buf(const avi::aviindex_chunk&, char*) {}
void File::writeLegacyIndex() {}

}  // namespace avi

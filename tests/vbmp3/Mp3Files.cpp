// SPDX-License-Identifier: GPL-3.0-or-later
#include "Mp3Files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "platform/Cp932.h"
#include "support/TempDir.h"
#include "vbmp3/BlockText.h"
#include "vbmp3/vbmp3.h"

namespace kestrom::test {

std::string silentFrames(int count) {
    std::string frame(kFrameSize, '\0');
    frame.replace(0, 4, "\xFF\xFB\x90\xC0");  // no side information: silence
    std::string out;
    for (int i = 0; i < count; ++i) out += frame;
    return out;
}

void makeMp3(const std::string& path, const std::function<void(TagLib::MPEG::File&)>& tag,
             int version) {
    writeFile(path, silentFrames());
    TagLib::MPEG::File file(path.c_str());
    tag(file);
    EXPECT_TRUE(file.save(TagLib::MPEG::File::AllTags, TagLib::File::StripNone,
                          version == 4 ? TagLib::ID3v2::v4 : TagLib::ID3v2::v3,
                          TagLib::File::DoNotDuplicate));
}

std::string id3v1Tag(std::string_view title, std::string_view artist, std::string_view comment,
                     unsigned char genre) {
    auto field = [](std::string_view s, std::size_t size) {
        return std::string(s.substr(0, size)).append(size - std::min(size, s.size()), '\0');
    };
    return "TAG" + field(title, 30) + field(artist, 30) + field("", 34) + field(comment, 30) +
           static_cast<char>(genre);
}

std::string fixture(std::string_view name) {
    const char* folder = std::getenv("KESTROM_FIXTURES");  // test discovery runs without it
    return std::string(folder != nullptr ? folder : KESTROM_FIXTURES_FALLBACK) + "/tags/" +
           std::string(name);
}

bool readTag(const std::string& path, Block& block, MpegInfo* mpeg) {
    MpegInfo info{};
    return vbmp3_getFileInfo(path.c_str(), block.data(),
                             mpeg != nullptr ? mpeg->data() : info.data()) != 0;
}

bool writeTag(const std::string& path, Block block) {
    return vbmp3_setTagInfo(path.c_str(), block.data(), 1, 1) != 0;
}

std::string bytes(const Block& block, std::size_t offset, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(block.data() + offset), size);
}

std::u16string text(const Block& block, std::size_t offset, std::size_t size) {
    return vbmp3::fromBlockText(bytes(block, offset, size));
}

void setText(Block& block, std::size_t offset, std::size_t size, std::string_view text) {
    std::memset(block.data() + offset, 0, size);
    std::memcpy(block.data() + offset, text.data(), std::min(size, text.size()));
}

Block throughProgram(const Block& block) {
    Block out = block;
    for (auto [offset, size] : {std::pair<std::size_t, std::size_t>{0, 128},
                                {128, 128},
                                {256, 128},
                                {384, 5},
                                {389, 128},
                                {524, 128}}) {
        std::string encoded;
        for (char16_t c : platform::cp932::decode(bytes(block, offset, size))) {
            const std::string one = platform::cp932::encode(std::u16string_view(&c, 1));
            if (encoded.size() + one.size() > size) break;
            encoded += one;
        }
        setText(out, offset, size, encoded);
    }
    return out;
}

}  // namespace kestrom::test

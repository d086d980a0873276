#include "tests/support/tag_pictures.h"

#include <taglib/asffile.h>
#include <taglib/asfpicture.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/opusfile.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

#include <memory>

namespace chm::test {
namespace {

TagLib::ByteVector Bytes(const std::vector<char>& data) {
    return TagLib::ByteVector(data.data(), static_cast<unsigned>(data.size()));
}

bool AddToXiph(TagLib::File& file, TagLib::Ogg::XiphComment* comment, const std::vector<TestPicture>& pictures) {
    if (!file.isValid() || !comment) return false;
    for (const TestPicture& picture : pictures) {
        auto block = std::make_unique<TagLib::FLAC::Picture>();
        block->setMimeType(picture.mime_type);
        block->setType(static_cast<TagLib::FLAC::Picture::Type>(picture.type));
        block->setDescription(picture.description);
        block->setData(Bytes(picture.data));
        comment->addPicture(block.release());
    }
    return file.save();
}

}  // namespace

bool AddPicturesWithTaglib(const std::string& path, const std::vector<TestPicture>& pictures) {
    const std::string ext = path.substr(path.rfind('.') + 1);
    if (ext == "wav") {
        TagLib::RIFF::WAV::File file(path.c_str());
        if (!file.isValid()) return false;
        for (const TestPicture& picture : pictures) {
            auto frame = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
            frame->setMimeType(picture.mime_type);
            frame->setType(static_cast<TagLib::ID3v2::AttachedPictureFrame::Type>(picture.type));
            frame->setDescription(picture.description);
            frame->setPicture(Bytes(picture.data));
            file.ID3v2Tag()->addFrame(frame.release());
        }
        return file.save();
    }
    if (ext == "wma") {
        TagLib::ASF::File file(path.c_str());
        if (!file.isValid()) return false;
        for (const TestPicture& picture : pictures) {
            TagLib::ASF::Picture asf;
            asf.setMimeType(picture.mime_type);
            asf.setType(static_cast<TagLib::ASF::Picture::Type>(picture.type));
            asf.setDescription(picture.description);
            asf.setPicture(Bytes(picture.data));
            file.tag()->addAttribute("WM/Picture", TagLib::ASF::Attribute(asf));
        }
        return file.save();
    }
    if (ext == "ogg") {
        TagLib::Ogg::Vorbis::File file(path.c_str());
        return AddToXiph(file, file.tag(), pictures);
    }
    if (ext == "opus") {
        TagLib::Ogg::Opus::File file(path.c_str());
        return AddToXiph(file, file.tag(), pictures);
    }
    return false;
}

}  // namespace chm::test

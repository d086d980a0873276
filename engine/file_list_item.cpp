#include "engine/file_list_item.h"

#include <atomic>
#include <utility>

#include "engine/paths.h"

namespace chm {
namespace {

// Incremented for every item ever made; the first item gets 0.
std::atomic<uint32_t> next_item_id{0};

}  // namespace

FileListItem::FileListItem(std::string path, WindowHandle list_window)
    : FileListItem(std::move(path), std::move(list_window), next_item_id.fetch_add(1)) {}

FileListItem::FileListItem(std::string path, WindowHandle list_window, uint32_t id)
    : path_(std::move(path)),
      name_(PathFileName(path_)),
      location_(PathFolder(path_, false)),
      progress_(std::move(list_window), id),
      id_(id) {}

std::string FileListItem::OutputPath() const {
    std::lock_guard lock(output_path_lock_);
    return output_path_;
}

void FileListItem::SetOutputPath(std::string output_path) {
    std::lock_guard lock(output_path_lock_);
    output_path_ = std::move(output_path);
}

void FileListItem::SetOutput(std::string output_path, OutputRecipe recipe) {
    SetOutputPath(std::move(output_path));
    recipe_ = std::move(recipe);
}

}  // namespace chm

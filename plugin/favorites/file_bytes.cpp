#include "plugin/favorites/file_bytes.h"

#include <fstream>

namespace favorites {

FileRead readFileBytes(const std::filesystem::path& path, std::string* bytes, uint64_t maxSize,
                       bool* tooLarge) {
  if (tooLarge) *tooLarge = false;
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return FileRead::OpenFailed;
  // The size, as the file's handle gives it.
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (!in || size < 0) return FileRead::OpenFailed;
  if (static_cast<uint64_t>(size) > maxSize) {
    if (tooLarge) *tooLarge = true;
    return FileRead::Ok;
  }
  in.seekg(0, std::ios::beg);
  std::string content(static_cast<size_t>(size), '\0');
  if (size > 0 && !in.read(content.data(), size)) return FileRead::ReadFailed;
  *bytes = std::move(content);
  return FileRead::Ok;
}

}  // namespace favorites

// Writes a Windows icon file from PNG pictures, one entry per picture, each stored as PNG (as
// Windows Vista and later read them). usage: make-icon OUT.ico IN.png...
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

void PutLittle(Bytes& out, uint32_t value, int size) {
  for (int i = 0; i < size; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

uint32_t BigEndian32(const Bytes& bytes, size_t offset) {
  return static_cast<uint32_t>(bytes[offset]) << 24 | bytes[offset + 1] << 16 |
         bytes[offset + 2] << 8 | bytes[offset + 3];
}

// The PNG signature followed by the IHDR chunk, whose first fields are width and height.
bool IsPng(const Bytes& bytes) {
  static const unsigned char kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (bytes.size() < 24) return false;
  for (size_t i = 0; i < sizeof kSignature; ++i) {
    if (bytes[i] != kSignature[i]) return false;
  }
  return bytes[12] == 'I' && bytes[13] == 'H' && bytes[14] == 'D' && bytes[15] == 'R';
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: make-icon OUT.ico IN.png...\n", stderr);
    return 2;
  }
  std::vector<Bytes> pictures;
  for (int i = 2; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const uint32_t width = IsPng(bytes) ? BigEndian32(bytes, 16) : 0;
    if (width == 0 || width > 256 || BigEndian32(bytes, 20) != width) {
      std::fprintf(stderr, "make-icon: %s is no square PNG of at most 256 pixels\n", argv[i]);
      return 1;
    }
    pictures.push_back(std::move(bytes));
  }
  Bytes out;
  PutLittle(out, 0, 2);  // reserved
  PutLittle(out, 1, 2);  // an icon, not a cursor
  PutLittle(out, static_cast<uint32_t>(pictures.size()), 2);
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(pictures.size());
  for (const Bytes& picture : pictures) {
    const uint32_t size = BigEndian32(picture, 16);
    out.push_back(static_cast<unsigned char>(size % 256));  // 256 is written as 0
    out.push_back(static_cast<unsigned char>(size % 256));
    out.push_back(0);       // no palette
    out.push_back(0);       // reserved
    PutLittle(out, 1, 2);   // colour planes
    PutLittle(out, 32, 2);  // bits per pixel
    PutLittle(out, static_cast<uint32_t>(picture.size()), 4);
    PutLittle(out, offset, 4);
    offset += static_cast<uint32_t>(picture.size());
  }
  for (const Bytes& picture : pictures) out.insert(out.end(), picture.begin(), picture.end());
  std::ofstream file(argv[1], std::ios::binary);
  file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return file ? 0 : 1;
}

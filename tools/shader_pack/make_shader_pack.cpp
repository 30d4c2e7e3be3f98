// tools/shader_pack/make_shader_pack.cpp - makes the shader-pack block that
// the library carries: an LZ block holding an in-memory archive with the main
// pack and the mix pack, each an LZ block of a u16 size table followed by the
// byte code of every entry with a size, in row order.
//
// The byte code is our own placeholder: every chosen entry is a shader of
// version 2.0 (vertex or pixel) whose only instruction is a comment naming
// its row and column, so a device can take it and a reader can tell the
// entries apart. The entries the device creation tries are always present.
//
// The build runs it to make the library's source file of the block; it can
// also write the block as a plain file.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "lib/core/pack_lz.h"
#include "lib/core/pack_writer.h"

namespace {

constexpr int kVertexRows = 16384, kPixelRows = 6912, kColumns = 6;
constexpr int kMixRows = 64, kMixColumns = 4;
// One entry in this many carries code (besides the ones the device tries).
constexpr int kSpacing = 211;

const char kUsage[] =
    "usage: make_shader_pack <output>\n"
    "\n"
    "Writes the placeholder shader-pack block. An <output> ending in .cpp gets\n"
    "a C++ source file defining EmbeddedShaderPack(); any other name gets the\n"
    "block's bytes.\n";

void PutWord(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(uint8_t(v >> (8 * i)));
}

// Version token, a three-word comment (tag, row, column), end token.
std::vector<uint8_t> PlaceholderCode(bool vertex, int row, int column) {
  std::vector<uint8_t> code;
  PutWord(&code, vertex ? 0xFFFE0200u : 0xFFFF0200u);
  PutWord(&code, 0xFFFEu | (3u << 16));
  PutWord(&code, vertex ? 0x53565250u : 0x53505250u);  // "PRVS" / "PRPS"
  PutWord(&code, uint32_t(row));
  PutWord(&code, uint32_t(column));
  PutWord(&code, 0x0000FFFFu);
  return code;
}

// A pack: the size table of rows x columns entries, then the code.
std::vector<uint8_t> MakePack(int rows, int columns, bool (*chosen)(int, int),
                              std::vector<uint8_t> (*code_of)(int, int)) {
  std::vector<uint8_t> table, body;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c) {
      std::vector<uint8_t> code;
      if (chosen(r, c)) code = code_of(r, c);
      table.push_back(uint8_t(code.size()));
      table.push_back(uint8_t(code.size() >> 8));
      body.insert(body.end(), code.begin(), code.end());
    }
  table.insert(table.end(), body.begin(), body.end());
  return table;
}

bool MainChosen(int r, int c) {
  if (r == 5462 && c == 2) return true;                      // the vertex shader the device tries
  if (r == kVertexRows + 409 && c == 0) return true;         // the pixel shader it tries
  return (r * kColumns + c) % kSpacing == 0;
}
std::vector<uint8_t> MainCode(int r, int c) {
  return r < kVertexRows ? PlaceholderCode(true, r, c) : PlaceholderCode(false, r - kVertexRows, c);
}
bool MixChosen(int r, int c) { return (r * kMixColumns + c) % 5 == 0; }
std::vector<uint8_t> MixCode(int r, int c) { return PlaceholderCode(false, r, c); }

PackNode File(const char* name, std::vector<uint8_t> bytes) {
  PackNode n;
  n.name = name;
  n.size = bytes.size();
  n.data.assign(bytes.begin(), bytes.end());
  return n;
}

bool MakeBlock(std::vector<unsigned char>* block) {
  const std::vector<uint8_t> main = MakePack(kVertexRows + kPixelRows, kColumns, MainChosen, MainCode);
  const std::vector<uint8_t> mix = MakePack(kMixRows, kMixColumns, MixChosen, MixCode);
  PackNode root;
  root.folder = true;
  root.children.push_back(File("RiRiriduZudi.bin", EncodePackData(main.data(), main.size())));
  root.children.push_back(File("VoVuruZedAzovavAduv.bin", EncodePackData(mix.data(), mix.size())));
  PackOptions options;
  options.compress = false;  // the packs are LZ blocks already
  std::stringstream archive(std::ios::in | std::ios::out | std::ios::binary);
  std::string error;
  if (WritePackArchive(root, options, archive, &error) != 0) {
    std::fprintf(stderr, "make_shader_pack: %s\n", error.c_str());
    return false;
  }
  const std::string bytes = archive.str();
  *block = EncodePackData(bytes.data(), bytes.size());
  return !block->empty();
}

bool EndsWith(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

bool WriteSource(std::ostream& out, const std::vector<unsigned char>& block) {
  out << "// Made by make_shader_pack: the placeholder shader packs.\n"
         "#include \"lib/graphics/shader_packs.h\"\n\nnamespace {\nconst uint8_t kBlock[] = {";
  for (size_t i = 0; i < block.size(); ++i) {
    if (i % 20 == 0) out << "\n   ";
    out << ' ' << unsigned(block[i]) << ',';
  }
  out << "\n};\n}  // namespace\n\nShaderPackBlob EmbeddedShaderPack() { return {kBlock, sizeof kBlock}; }\n";
  return bool(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, argc == 2 ? stdout : stderr);
    return argc == 2 ? 0 : 2;
  }
  std::vector<unsigned char> block;
  if (!MakeBlock(&block)) return 1;
  const std::string path = argv[1];
  // Written beside the target and renamed, so that a failed run leaves no
  // half-written file for the build to take.
  const std::string temporary = path + ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    const bool ok = EndsWith(path, ".cpp")
                        ? WriteSource(out, block)
                        : bool(out.write(reinterpret_cast<const char*>(block.data()), std::streamsize(block.size())));
    if (!ok || !out.flush()) {
      std::fprintf(stderr, "make_shader_pack: cannot write %s\n", temporary.c_str());
      return 1;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::fprintf(stderr, "make_shader_pack: cannot write %s\n", path.c_str());
    return 1;
  }
  return 0;
}

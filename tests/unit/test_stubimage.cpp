// Reads the built stub back and checks its file image: the DOS header and
// real-mode notice, the empty configuration block, the moved PE headers and
// sections, the imports (system DLLs only, nothing that could be picked up
// from the program's folder), the exported hook, the dialog templates
// against their tables, the icon and the manifest. Runs the real-mode part
// in dosbox when it is installed. All expected values are written out by
// hand here, not taken from the build.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

fs::path BinDirectory() {
  if (const char* exe = getenv("LZHSFX_STUB_EXE")) return fs::path(exe).parent_path();
  // This file lives in tests/unit of the source tree; the shipped programs
  // go to build/bin beside it.
  return fs::path(__FILE__).parent_path().parent_path().parent_path() / "build" / "bin";
}

Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

uint16_t Le16(const Bytes& b, size_t at) { return (uint16_t)(b.at(at) | (b.at(at + 1) << 8)); }
uint32_t Le32(const Bytes& b, size_t at) { return Le16(b, at) | ((uint32_t)Le16(b, at + 2) << 16); }
int16_t S16(const Bytes& b, size_t at) { return (int16_t)Le16(b, at); }

// The notice in CP932, as encoded by hand from its text
// "このプログラムは Windows 32ﾋﾞｯﾄ版の LZH 自己解凍書庫です." CR LF
// "MS-DOS モードでは実行できません．" CR LF "$".
const Bytes Notice = {
    0x82, 0xb1, 0x82, 0xcc, 0x83, 0x76, 0x83, 0x8d, 0x83, 0x4f, 0x83, 0x89, 0x83, 0x80, 0x82,
    0xcd, 0x20, 0x57, 0x69, 0x6e, 0x64, 0x6f, 0x77, 0x73, 0x20, 0x33, 0x32, 0xcb, 0xde, 0xaf,
    0xc4, 0x94, 0xc5, 0x82, 0xcc, 0x20, 0x4c, 0x5a, 0x48, 0x20, 0x8e, 0xa9, 0x8c, 0xc8, 0x89,
    0xf0, 0x93, 0x80, 0x8f, 0x91, 0x8c, 0xc9, 0x82, 0xc5, 0x82, 0xb7, 0x2e, 0x0d, 0x0a, 0x4d,
    0x53, 0x2d, 0x44, 0x4f, 0x53, 0x20, 0x83, 0x82, 0x81, 0x5b, 0x83, 0x68, 0x82, 0xc5, 0x82,
    0xcd, 0x8e, 0xc0, 0x8d, 0x73, 0x82, 0xc5, 0x82, 0xab, 0x82, 0xdc, 0x82, 0xb9, 0x82, 0xf1,
    0x81, 0x44, 0x0d, 0x0a, 0x24};
// jmp short +95; the notice; push cs; pop ds; mov dx,2; mov ah,9; int 21h;
// mov ax,4C01h; int 21h.
const Bytes DosCode = {0x0e, 0x1f, 0xba, 0x02, 0x00, 0xb4, 0x09,
                       0xcd, 0x21, 0xb8, 0x01, 0x4c, 0xcd, 0x21};

struct Section {
  std::string name;
  uint32_t virtualAddress, virtualSize, rawSize, rawPointer, characteristics;
};

struct Image {
  Bytes file;
  uint32_t pe = 0, opt = 0, optSize = 0;
  bool plus = false;
  std::vector<Section> sections;

  uint32_t Dir(int index, uint32_t* size = nullptr) const {
    uint32_t dirs = opt + (plus ? 112 : 96);
    if (size) *size = Le32(file, dirs + 8 * index + 4);
    return Le32(file, dirs + 8 * index);
  }
  size_t Offset(uint32_t rva) const {
    for (const auto& s : sections) {
      if (rva >= s.virtualAddress && rva < s.virtualAddress + std::max(s.rawSize, s.virtualSize))
        return rva - s.virtualAddress + s.rawPointer;
    }
    throw std::runtime_error("RVA outside every section");
  }
  std::string Text(uint32_t rva) const {
    std::string out;
    for (size_t at = Offset(rva); file.at(at) != 0; at++) out += (char)file[at];
    return out;
  }
};

std::optional<Image> Load(const char* name) {
  fs::path path = BinDirectory() / name;
  if (!fs::exists(path)) return std::nullopt;
  Image image;
  image.file = ReadAll(path);
  image.pe = Le32(image.file, 60);
  image.opt = image.pe + 24;
  image.optSize = Le16(image.file, image.pe + 20);
  image.plus = Le16(image.file, image.opt) == 0x20b;
  uint32_t count = Le16(image.file, image.pe + 6);
  for (uint32_t i = 0; i < count; i++) {
    size_t at = image.opt + image.optSize + 40 * i;
    Section s;
    s.name.assign((const char*)&image.file.at(at), 8);
    s.name = s.name.c_str();
    s.virtualSize = Le32(image.file, at + 8);
    s.virtualAddress = Le32(image.file, at + 12);
    s.rawSize = Le32(image.file, at + 16);
    s.rawPointer = Le32(image.file, at + 20);
    s.characteristics = Le32(image.file, at + 36);
    image.sections.push_back(s);
  }
  return image;
}

class StubImage : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    image = Load(GetParam());
    if (!image) GTEST_SKIP() << GetParam() << " not built in " << BinDirectory();
  }
  std::optional<Image> image;
};

// Catches: wrong page counts (DOS would load a cut or overlong image), a
// header size other than 32 paragraphs, a wrong entry point or e_lfanew, a
// stack outside the memory DOS reserves, and a changed notice or code.
TEST_P(StubImage, DosPart) {
  const Bytes& f = image->file;
  EXPECT_EQ(f[0], 'M');
  EXPECT_EQ(f[1], 'Z');
  const uint32_t lastPage = Le16(f, 2), pages = Le16(f, 4);
  EXPECT_EQ((pages - 1) * 512 + lastPage, 1231u);  // 2 full pages + 207
  EXPECT_EQ(Le16(f, 8), 32);                        // header paragraphs
  EXPECT_EQ(Le16(f, 6), 0);                         // no relocations
  EXPECT_EQ(Le16(f, 22), 0x0026);                   // CS
  EXPECT_EQ(Le16(f, 20), 0x0000);                   // IP
  EXPECT_EQ(Le32(f, 60), 0x500u);
  // The stack must lie in the memory DOS gives the program: the load module
  // (1231 - 512 bytes, in whole paragraphs) plus the minimum extra memory.
  const uint32_t loadParagraphs = (1231 - 512 + 15) / 16;
  const uint32_t stackTop = Le16(f, 14) * 16u + Le16(f, 16);
  EXPECT_GT(stackTop, 1231u - 512u) << "stack over the program";
  EXPECT_LE(stackTop, (loadParagraphs + Le16(f, 10)) * 16u) << "stack past reserved memory";
  EXPECT_EQ(Le16(f, 16) % 2, 0) << "odd stack pointer";

  for (size_t i = 512; i < 0x460; i++) ASSERT_EQ(f[i], 0) << "config area at " << i;
  EXPECT_EQ(f[0x460], 0xeb);
  EXPECT_EQ(f[0x461], Notice.size());
  EXPECT_TRUE(std::equal(Notice.begin(), Notice.end(), f.begin() + 0x462));
  EXPECT_TRUE(std::equal(DosCode.begin(), DosCode.end(), f.begin() + 0x462 + Notice.size()));
  EXPECT_EQ(0x462 + Notice.size() + DosCode.size(), 1231u);
  for (size_t i = 1231; i < 0x500; i++) ASSERT_EQ(f[i], 0) << "gap at " << i;
}

// The standard PE checksum, written independently of the layout tool.
uint32_t Checksum(const Bytes& f, size_t field) {
  uint32_t sum = 0;
  for (size_t i = 0; i < f.size(); i += 2) {
    uint32_t word = (i + 1 < f.size()) ? Le16(f, i) : f[i];
    if (i == field || i == field + 2) word = 0;
    sum += word;
    sum = (sum & 0xffff) + (sum >> 16);
  }
  return (sum & 0xffff) + (uint32_t)f.size();
}

// Catches: headers not at 0x500, SizeOfHeaders not grown to cover them,
// section data not moved with the headers (raw pointers into the header
// area, overlapping or running past the file), and a stale checksum.
TEST_P(StubImage, PeHeadersAndSections) {
  const Bytes& f = image->file;
  ASSERT_EQ(Le32(f, 0x500), 0x00004550u);
  EXPECT_EQ(Le16(f, image->pe + 4), image->plus ? 0x8664 : 0x014c);
  EXPECT_EQ(Le16(f, image->opt + 68), 2) << "GUI subsystem";
  const uint32_t alignment = Le32(f, image->opt + 36);
  const uint32_t headers = Le32(f, image->opt + 60);
  const uint32_t headersEnd = image->opt + image->optSize + 40 * (uint32_t)image->sections.size();
  EXPECT_EQ(headers, (headersEnd + alignment - 1) / alignment * alignment);
  EXPECT_EQ(headers, 0x800u);
  for (uint32_t i = headersEnd; i < headers; i++) ASSERT_EQ(f[i], 0);
  uint32_t expectedRaw = headers;
  for (const auto& s : image->sections) {
    if (s.rawSize == 0) continue;
    EXPECT_EQ(s.rawPointer, expectedRaw) << s.name << " not packed behind the previous section";
    EXPECT_EQ(s.rawPointer % alignment, 0u) << s.name;
    EXPECT_LE((uint64_t)s.rawPointer + s.rawSize, f.size()) << s.name;
    expectedRaw = s.rawPointer + s.rawSize;
  }
  EXPECT_EQ(expectedRaw, f.size()) << "nothing may follow the last section";
  EXPECT_EQ(Le32(f, image->opt + 64), Checksum(f, image->opt + 64));
}

std::string Lower(std::string s) {
  for (auto& c : s) c = (char)tolower((unsigned char)c);
  return s;
}

// Catches: a static import of comdlg32, shell32 or advapi32 (whose load
// would search the program's folder before the hardening runs), or of any C
// runtime, and losing the run-time look-ups the hardening needs.
TEST_P(StubImage, ImportsOnlyKnownSystemDlls) {
  const Bytes& f = image->file;
  std::vector<std::string> dlls, kernelCalls;
  for (size_t at = image->Offset(image->Dir(1)); Le32(f, at + 12) != 0; at += 20) {
    std::string dll = Lower(image->Text(Le32(f, at + 12)));
    dlls.push_back(dll);
    if (dll != "kernel32.dll") continue;
    const uint32_t thunkSize = image->plus ? 8 : 4;
    for (size_t t = image->Offset(Le32(f, at)); Le32(f, t) != 0; t += thunkSize)
      kernelCalls.push_back(image->Text(Le32(f, t) + 2));
  }
  std::sort(dlls.begin(), dlls.end());
  EXPECT_EQ(dlls, (std::vector<std::string>{"gdi32.dll", "kernel32.dll", "user32.dll"}));
  for (const char* call : {"GetProcAddress", "LoadLibraryExW", "GetModuleHandleA"})
    EXPECT_NE(std::find(kernelCalls.begin(), kernelCalls.end(), call), kernelCalls.end()) << call;
  const std::string all(f.begin(), f.end());
  for (const char* name : {"SetDefaultDllDirectories", "comdlg32.dll", "shell32.dll",
                           "GetOpenFileNameW", "ShellExecuteExW", "advapi32.dll"})
    EXPECT_NE(all.find(name), std::string::npos) << name;
}

// Catches: the hook exported under a decorated name (_GetDirDlgHookProc@16)
// or not at all, or pointing outside the code.
TEST_P(StubImage, ExportsTheHookByItsPlainName) {
  const Bytes& f = image->file;
  size_t dir = image->Offset(image->Dir(0));
  ASSERT_EQ(Le32(f, dir + 24), 1u) << "exactly one exported name";
  EXPECT_EQ(image->Text(Le32(f, image->Offset(Le32(f, dir + 32)))), "GetDirDlgHookProc");
  uint32_t function = Le32(f, image->Offset(Le32(f, dir + 28)));
  const Section& text = image->sections.at(0);
  EXPECT_NE(text.characteristics & 0x20000000u, 0u) << "first section is code";
  EXPECT_GE(function, text.virtualAddress);
  EXPECT_LT(function, text.virtualAddress + text.virtualSize);
}

// Resource look-up: type by number, name by number or upper-case string.
std::optional<std::pair<size_t, uint32_t>> FindResource(const Image& image, uint32_t type,
                                                        const std::u16string& name, uint32_t id) {
  const Bytes& f = image.file;
  const size_t root = image.Offset(image.Dir(2));
  auto entries = [&](size_t dir, auto&& match) -> std::optional<uint32_t> {
    uint32_t n = Le16(f, dir + 12) + Le16(f, dir + 14);
    for (uint32_t i = 0; i < n; i++) {
      size_t e = dir + 16 + 8 * i;
      if (match(Le32(f, e))) return Le32(f, e + 4);
    }
    return std::nullopt;
  };
  auto byId = [](uint32_t want) { return [want](uint32_t v) { return v == want; }; };
  auto typeDir = entries(root, byId(type));
  if (!typeDir || !(*typeDir & 0x80000000u)) return std::nullopt;
  auto nameMatch = [&](uint32_t v) {
    if (!(v & 0x80000000u)) return name.empty() && v == id;
    size_t s = root + (v & 0x7fffffffu);
    std::u16string got;
    for (uint32_t k = 0; k < Le16(f, s); k++) got += (char16_t)Le16(f, s + 2 + 2 * k);
    return got == name;
  };
  auto nameDir = entries(root + (*typeDir & 0x7fffffffu), nameMatch);
  if (!nameDir || !(*nameDir & 0x80000000u)) return std::nullopt;
  size_t langDir = root + (*nameDir & 0x7fffffffu);
  if (Le16(f, langDir + 12) + Le16(f, langDir + 14) == 0) return std::nullopt;
  size_t leaf = root + Le32(f, langDir + 16 + 4);
  return std::make_pair(image.Offset(Le32(f, leaf)), Le32(f, leaf + 4));
}

struct Control {
  int id;
  uint16_t classAtom;  // 0x80 button, 0x81 edit, 0x82 static, 0x83 list box, 0x85 combo box
  std::u16string title;
  int16_t x, y, cx, cy;
  uint32_t style;  // bits that must be set (plus WS_VISIBLE unless hidden)
  bool hidden;
};

std::u16string ReadSzOrOrd(const Bytes& f, size_t& at) {
  std::u16string s;
  if (Le16(f, at) == 0xffff) {
    s = u"#" + std::u16string(1, (char16_t)Le16(f, at + 2));
    at += 4;
    return s;
  }
  while (Le16(f, at) != 0) {
    s += (char16_t)Le16(f, at);
    at += 2;
  }
  at += 2;
  return s;
}

constexpr uint32_t WsTabstop = 0x10000, WsGroup = 0x20000, WsBorder = 0x800000,
                   WsVisible = 0x10000000, WsDisabled = 0x08000000, WsVscroll = 0x200000;

// Checks one DIALOG template against its table, in template (tab) order.
void CheckDialog(const Image& image, const std::u16string& name, int16_t cx, int16_t cy,
                 const std::vector<Control>& controls) {
  auto res = FindResource(image, 5, name, 0);
  ASSERT_TRUE(res) << "dialog template missing";
  const Bytes& f = image.file;
  size_t at = res->first;
  const uint32_t style = Le32(f, at);
  // Popup, caption, system menu, modal frame.
  EXPECT_EQ(style & 0x80C80080u, 0x80C80080u);
  ASSERT_EQ(Le16(f, at + 8), controls.size());
  EXPECT_EQ(S16(f, at + 14), cx);
  EXPECT_EQ(S16(f, at + 16), cy);
  at += 18;
  ReadSzOrOrd(f, at);  // menu
  ReadSzOrOrd(f, at);  // class
  ReadSzOrOrd(f, at);  // caption (set at run time)
  ASSERT_NE(style & 0x40u, 0u) << "DS_SETFONT";
  EXPECT_EQ(Le16(f, at), 8);
  at += 2;
  EXPECT_EQ(ReadSzOrOrd(f, at), u"System");
  for (const Control& want : controls) {
    at = (at + 3) & ~(size_t)3;
    const uint32_t got = Le32(f, at);
    const int id = S16(f, at + 16);
    SCOPED_TRACE("control " + std::to_string(want.id));
    EXPECT_EQ(id, want.id);
    EXPECT_EQ(S16(f, at + 8), want.x);
    EXPECT_EQ(S16(f, at + 10), want.y);
    EXPECT_EQ(S16(f, at + 12), want.cx);
    EXPECT_EQ(S16(f, at + 14), want.cy);
    EXPECT_EQ(got & want.style, want.style);
    EXPECT_EQ((got & WsVisible) == 0, want.hidden);
    if (want.hidden) EXPECT_NE(got & WsDisabled, 0u);
    at += 18;
    EXPECT_EQ(ReadSzOrOrd(f, at), u"#" + std::u16string(1, (char16_t)want.classAtom));
    std::u16string title = ReadSzOrOrd(f, at);
    if (want.classAtom != 0x83 && want.classAtom != 0x85) EXPECT_TRUE(title == want.title);
    at += 2 + Le16(f, at);  // creation data
  }
}

// Catches: a control with the wrong identifier, place, size, text, kind or
// style, the tab order (template order) changed, or the off-screen file
// controls of the chooser left visible or enabled.
TEST_P(StubImage, MainDialogTemplate) {
  CheckDialog(*image, u"SFXDIALOG", 195, 73,
              {
                  {103, 0x82, u"解凍先ﾃﾞｨﾚｸﾄﾘ(&D):", 10, 7, 157, 8, WsGroup, false},
                  {100, 0x81, u"", 10, 18, 135, 12, WsBorder | WsTabstop | 0x80, false},
                  {104, 0x80, u"参照(&B)...", 148, 17, 40, 14, WsTabstop, false},
                  {101, 0x82, u"", 12, 36, 130, 8, WsGroup | 0xC, false},
                  {102, 0x82, u"", 146, 36, 45, 8, WsGroup | 0xC, false},
                  {1, 0x80, u"OK", 40, 52, 40, 14, WsTabstop | 0x1, false},
                  {2, 0x80, u"ｷｬﾝｾﾙ", 110, 52, 40, 14, WsTabstop, false},
              });
}

TEST_P(StubImage, ChooserTemplate) {
  CheckDialog(*image, u"GETDIRDIALOG", 175, 140,
              {
                  {-1, 0x82, u"ディレクトリ(&D):", 10, 11, 92, 9, 0, false},
                  {1088, 0x82, u"", 10, 22, 92, 9, 0x80, false},
                  {1121, 0x83, u"", 10, 34, 92, 68, 0x2 | 0x10 | 0x40 | WsVscroll, false},
                  {1091, 0x82, u"ドライブ(&V):", 10, 106, 92, 9, 0, false},
                  {1137, 0x85, u"", 10, 116, 92, 68, 0x3 | 0x10 | 0x100 | 0x200, false},
                  {1, 0x80, u"OK", 115, 12, 50, 14, 0x1 | WsTabstop, false},
                  {2, 0x80, u"ｷｬﾝｾﾙ", 115, 30, 50, 14, WsTabstop, false},
                  {1038, 0x80, u"ﾍﾙﾌﾟ(&H)", 115, 55, 50, 14, WsTabstop, false},
                  {1090, 0x82, u"", -269, 8, 76, 9, 0, true},
                  {1152, 0x81, u"", -271, 20, 90, 12, 0, true},
                  {1120, 0x83, u"", -269, 37, 90, 68, 0, true},
                  {1089, 0x82, u"", -269, 109, 90, 9, 0, true},
                  {1136, 0x85, u"", -268, 121, 90, 36, 0x3, true},
                  {1040, 0x80, u"", -263, 139, 63, 12, 0, true},
              });
}

// Catches: the icon numbered so that the dialog's load of icon 101 finds
// nothing, and a manifest that asks for elevation, lacks the common controls
// 6, the system DPI awareness or one of the systems from Vista to 11.
TEST_P(StubImage, IconAndManifest) {
  EXPECT_TRUE(FindResource(*image, 14, u"", 101)) << "icon group 101";
  auto manifest = FindResource(*image, 24, u"", 1);
  ASSERT_TRUE(manifest);
  std::string text(image->file.begin() + manifest->first,
                   image->file.begin() + manifest->first + manifest->second);
  EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(text.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
            std::string::npos);
  EXPECT_NE(text.find(">true</dpiAware>"), std::string::npos);
  // The compatibility ids Windows publishes for Vista, 7, 8, 8.1 and 10/11.
  for (const char* os : {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                         "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                         "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
    EXPECT_NE(text.find(std::string("<supportedOS Id=\"{") + os + "}\"/>"), std::string::npos) << os;
}

INSTANTIATE_TEST_SUITE_P(Builds, StubImage, ::testing::Values("sfxstub.exe", "sfxstub64.exe"));

// Catches: the shipped stub growing past its hard limit of 32 KB.
TEST(ShippedStub, SizeLimit) {
  auto image = Load("sfxstub.exe");
  if (!image) GTEST_SKIP() << "sfxstub.exe not built";
  EXPECT_FALSE(image->plus);
  EXPECT_LE(image->file.size(), 32768u);
  RecordProperty("bytes", (int)image->file.size());
}

// Catches: a real-mode part that DOS does not run as intended: text not
// printed (DS not at the notice), printed past the '$', or an exit code
// other than 1. dosbox "if errorlevel" on a line with a redirection creates
// the file even when false, so a true condition shows as a non-empty file.
TEST(ShippedStub, RunsUnderDos) {
  fs::path stub = BinDirectory() / "sfxstub.exe";
  if (!fs::exists(stub)) GTEST_SKIP() << "sfxstub.exe not built";
  if (system("command -v dosbox >/dev/null 2>&1") != 0) GTEST_SKIP() << "no dosbox";
  fs::path dir = fs::temp_directory_path() / ("stubdos-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy_file(stub, dir / "SFX.EXE");
  {
    std::ofstream bat(dir / "RUN.BAT", std::ios::binary);
    bat << "SFX.EXE >OUT.TXT\r\n"
           "if errorlevel 2 echo high>HIGH.TXT\r\n"
           "if errorlevel 1 echo one>ONE.TXT\r\n"
           "exit\r\n";  // commands given after a batch file are never reached
  }
  std::string command = "cd '" + dir.string() +
                        "' && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy timeout 60 dosbox "
                        "-noconsole -c 'mount c .' -c 'c:' -c 'RUN.BAT' "
                        ">dosbox.log 2>&1";
  int rc = system(command.c_str());
  if (!fs::exists(dir / "OUT.TXT")) {
    fs::remove_all(dir);
    GTEST_SKIP() << "dosbox could not run headless (" << rc << ")";
  }
  Bytes printed = ReadAll(dir / "OUT.TXT");
  EXPECT_EQ(printed, Bytes(Notice.begin(), Notice.end() - 1));
  EXPECT_GT(fs::file_size(dir / "ONE.TXT"), 0u) << "exit code below 1";
  EXPECT_EQ(fs::file_size(dir / "HIGH.TXT"), 0u) << "exit code above 1";
  fs::remove_all(dir);
}


// A minimal linker-style PE32: headers at 0x80, SizeOfHeaders 0x400, and
// sections of 0x200 bytes each filled with a pattern of their own.
struct SyntheticPe {
  Bytes file;
  static constexpr uint32_t Pe = 0x80, Opt = Pe + 24, OptSize = 0xE0, Table = Opt + OptSize;
  explicit SyntheticPe(int sections, uint32_t firstRva = 0x1000) {
    file.assign(0x400 + 0x200 * sections, 0);
    file[0] = 'M';
    file[1] = 'Z';
    Put32(60, Pe);
    Put32(Pe, 0x00004550);
    Put16(Pe + 4, 0x14c);
    Put16(Pe + 6, (uint16_t)sections);
    Put16(Pe + 20, OptSize);
    Put16(Opt, 0x10b);
    Put32(Opt + 32, 0x1000);  // section alignment
    Put32(Opt + 36, 0x200);   // file alignment
    Put32(Opt + 60, 0x400);   // SizeOfHeaders
    Put16(Opt + 68, 2);
    Put32(Opt + 92, 16);
    for (int i = 0; i < sections; i++) {
      uint32_t at = Table + 40 * i;
      file[at] = '.';
      file[at + 1] = (uint8_t)('a' + i);
      Put32(at + 8, 0x200);
      Put32(at + 12, firstRva + 0x1000 * i);
      Put32(at + 16, 0x200);
      Put32(at + 20, 0x400 + 0x200 * i);
      for (uint32_t k = 0; k < 0x200; k++) file[0x400 + 0x200 * i + k] = (uint8_t)(k * 7 + i);
    }
  }
  void Put16(size_t at, uint16_t v) {
    file[at] = (uint8_t)v;
    file[at + 1] = (uint8_t)(v >> 8);
  }
  void Put32(size_t at, uint32_t v) {
    Put16(at, (uint16_t)v);
    Put16(at + 2, (uint16_t)(v >> 16));
  }
};

// Runs the layout tool on the given bytes; the exit status and the output.
fs::path StubimageTool() {
  if (const char* tool = getenv("LZHSFX_STUBIMAGE")) return tool;
  return BinDirectory() / "stubimage";
}

std::pair<int, Bytes> RunStubimage(const Bytes& input) {
  fs::path tool = StubimageTool();
  fs::path dir = fs::temp_directory_path() / ("stubimage-" + std::to_string(getpid()));
  fs::create_directories(dir);
  {
    std::ofstream out(dir / "in.exe", std::ios::binary);
    out.write((const char*)input.data(), (std::streamsize)input.size());
  }
  std::string command = "'" + tool.string() + "' '" + (dir / "in.exe").string() + "' '" +
                        (dir / "out.exe").string() + "' >/dev/null 2>&1";
  int status = system(command.c_str());
  Bytes output = fs::exists(dir / "out.exe") ? ReadAll(dir / "out.exe") : Bytes();
  fs::remove_all(dir);
  return {status, output};
}

class Stubimage : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(StubimageTool())) GTEST_SKIP() << "stubimage not built";
  }
};

// Catches: section data copied to the wrong place or not moved by the same
// amount as the raw pointers, header bytes lost in the move, and the file
// not growing by exactly the header growth.
TEST_F(Stubimage, MovesEverySectionByTheHeaderGrowth) {
  SyntheticPe pe(3);
  auto [status, out] = RunStubimage(pe.file);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(out.size(), pe.file.size() + 0x400);  // headers 0x400 -> 0x800
  EXPECT_EQ(Le32(out, 60), 0x500u);
  const uint32_t opt = 0x500 + 24;
  EXPECT_EQ(Le32(out, opt + 60), 0x800u);
  for (int i = 0; i < 3; i++) {
    uint32_t raw = Le32(out, opt + SyntheticPe::OptSize + 40 * i + 20);
    EXPECT_EQ(raw, 0x800u + 0x200u * i);
    EXPECT_TRUE(std::equal(out.begin() + raw, out.begin() + raw + 0x200,
                           pe.file.begin() + 0x400 + 0x200 * i))
        << "section " << i;
  }
  // Everything of the headers but SizeOfHeaders, the checksum and the raw
  // pointers is carried over unchanged.
  for (uint32_t k = 0; k < SyntheticPe::Table - SyntheticPe::Pe; k++) {
    uint32_t field = SyntheticPe::Pe + k;
    if (field >= SyntheticPe::Opt + 60 && field < SyntheticPe::Opt + 68) continue;
    ASSERT_EQ(out[0x500 + k], pe.file[field]) << "header byte " << k;
  }
  EXPECT_EQ(Le32(out, opt + 64), Checksum(out, opt + 64));
}

// Catches: the tool silently producing a broken image instead of refusing:
// bytes hidden behind the headers would be dropped, a debug directory's
// file offset would go stale, and headers reaching into the first
// section's pages would not load.
TEST_F(Stubimage, RefusesWhatItCannotMove) {
  SyntheticPe hidden(1);
  hidden.file[0x300] = 0x5A;
  EXPECT_NE(RunStubimage(hidden.file).first, 0) << "hidden data";

  SyntheticPe debug(1);
  debug.Put32(SyntheticPe::Opt + 96 + 8 * 6, 0x1000);
  debug.Put32(SyntheticPe::Opt + 96 + 8 * 6 + 4, 28);
  EXPECT_NE(RunStubimage(debug.file).first, 0) << "debug directory";

  SyntheticPe tight(1, 0x600);
  EXPECT_NE(RunStubimage(tight.file).first, 0) << "first section at 0x600";

  Bytes notPe(0x400, 0);
  EXPECT_NE(RunStubimage(notPe).first, 0) << "no MZ";
}

}  // namespace

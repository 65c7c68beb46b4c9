// Walks the given files and folders (children in byte order, each folder
// before its contents), and packs each as one level-2 member: CP932 names,
// Unix time stamp, attributes, data CRC, compressed unless that would not
// shrink it. The result is a function of the input tree alone.
#include "compress/pack.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <utility>

#include "cli/cp932.h"
#include "compress/crc16.h"
#include "compress/encoder.h"
#include "compress/header.h"

namespace {

constexpr uint8_t LevelSeparator = 0xFF;  // ends each directory level in the name record
constexpr uint64_t MaxMemberSize = 0xFFFFFFFFull;
constexpr mode_t AnyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;

struct Walk {
  const PackOptions& options;
  std::vector<uint8_t>& archive;
  std::string& error;
  std::set<std::string> packed;                    // member names already written
  std::vector<std::pair<dev_t, ino_t>> openDirs;   // folders on the current path (loop guard)
  bool haveExclude = false;
  dev_t excludeDev = 0;
  ino_t excludeIno = 0;
};

bool IsLeadByte(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// One name component in CP932. Refuses names the extractor would split or
// misread: no CP932 form, or a single-byte '\' or 0xFF (both separators).
bool ComponentToCp932(const std::string& utf8, std::string& out) {
  if (!ToCp932(utf8, out)) return false;
  for (size_t i = 0; i < out.size(); ++i) {
    const uint8_t b = static_cast<uint8_t>(out[i]);
    if (IsLeadByte(b)) {
      ++i;
      continue;
    }
    if (b == '\\' || b == LevelSeparator || b == 0) return false;
  }
  return true;
}

std::string Join(const std::vector<std::string>& parts) {
  std::string s;
  for (const auto& p : parts) {
    if (!s.empty()) s.push_back('/');
    s.append(p);
  }
  return s;
}

bool Fail(Walk& w, const std::string& message) {
  w.error = message;
  return false;
}

bool NamesFor(Walk& w, const std::vector<std::string>& parts, bool isDir, MemberHeaderFields& f) {
  f.directory.clear();
  f.fileName.clear();
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string cp;
    if (!ComponentToCp932(parts[i], cp)) {
      std::string message = Join(parts);
      message.insert(0, 1, '\'');
      message.append("': the name has no CP932 form");
      return Fail(w, message);
    }
    if (isDir || i + 1 < parts.size()) {
      f.directory.append(cp);
      f.directory.push_back(static_cast<char>(LevelSeparator));
    }
    else
      f.fileName = cp;
  }
  return true;
}

uint16_t AttributesOf(const struct stat& st) {
  uint16_t a = S_ISDIR(st.st_mode) ? AttrDirectory : AttrArchive;
  if ((st.st_mode & AnyWriteBit) == 0) a |= AttrReadOnly;
  return a;
}

uint32_t TimeOf(const struct stat& st) {
  if (st.st_mtime < 0) return 0;
  return static_cast<uint64_t>(st.st_mtime) > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(st.st_mtime);
}

bool ReadWhole(const std::string& path, std::vector<uint8_t>& data, std::string& why) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return why = std::strerror(errno), false;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    why = std::strerror(errno);
    close(fd);
    return false;
  }
  if (static_cast<uint64_t>(st.st_size) > MaxMemberSize) {
    why = "file too large for the format (4 GB at most)";
    close(fd);
    return false;
  }
  // Read the size fstat gave; a file that grows meanwhile is cut there, one
  // that shrinks is kept as read.
  data.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t got = read(fd, data.data() + done, data.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      why = std::strerror(errno);
      close(fd);
      return false;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  data.resize(done);
  close(fd);
  return true;
}

void ShowProgress(const std::string& name, size_t done, size_t total) {
  const unsigned percent = total == 0 ? 100u : static_cast<unsigned>(done * 100 / total);
  std::fprintf(stderr, "\r\033[K%s %3u%%", name.c_str(), percent);
  std::fflush(stderr);
}

bool PackFile(Walk& w, const std::string& path, const std::vector<std::string>& parts, const struct stat& st) {
  MemberHeaderFields f;
  if (!NamesFor(w, parts, false, f)) return false;
  std::vector<uint8_t> data;
  std::string why;
  if (!ReadWhole(path, data, why)) return Fail(w, "'" + path + "': " + why);
  const std::string display = Join(parts);
  f.originalSize = static_cast<uint32_t>(data.size());
  f.timeStamp = TimeOf(st);
  f.attributes = AttributesOf(st);
  f.dataCrc = Crc16Update(0, data.data(), data.size());

  std::vector<uint8_t> packed;
  const MethodParams* method = ParamsForMethod(w.options.method);
  if (method != nullptr && !data.empty()) {
    EncodeProgress progress;
    if (w.options.progress)
      progress = [&](size_t done) { ShowProgress(display, done, data.size()); };
    packed = EncodeMember(data.data(), data.size(), *method, w.options.level, progress);
  }
  const bool stored = method == nullptr || data.empty() || packed.size() >= data.size();
  f.method = stored ? '0' : method->digit;
  const std::vector<uint8_t>& body = stored ? data : packed;
  f.compressedSize = static_cast<uint32_t>(body.size());
  if (!AppendLevel2Header(w.archive, f)) return Fail(w, "'" + path + "': the name is too long");
  w.archive.insert(w.archive.end(), body.begin(), body.end());
  if (w.options.progress) ShowProgress(display, data.size(), data.size());
  return true;
}

bool PackPath(Walk& w, const std::string& path, const std::vector<std::string>& parts);

bool PackDirectory(Walk& w, const std::string& path, const std::vector<std::string>& parts,
                   const struct stat& st) {
  const auto id = std::make_pair(st.st_dev, st.st_ino);
  if (std::find(w.openDirs.begin(), w.openDirs.end(), id) != w.openDirs.end()) {
    std::fprintf(stderr, "lzhsfx: skipping '%s': it leads back into a folder being packed\n", path.c_str());
    return true;
  }
  if (!parts.empty()) {
    MemberHeaderFields f;
    if (!NamesFor(w, parts, true, f)) return false;
    const std::string name = Join(parts) + "/";
    if (w.packed.insert(name).second) {
      f.method = 'd';
      f.timeStamp = TimeOf(st);
      f.attributes = AttributesOf(st);
      if (!AppendLevel2Header(w.archive, f)) return Fail(w, "'" + path + "': the name is too long");
    }
  }
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return Fail(w, "'" + path + "': " + std::strerror(errno));
  std::vector<std::string> names;
  while (const dirent* e = readdir(dir)) {
    const std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  w.openDirs.push_back(id);
  const std::string prefix = path == "/" ? path : path + "/";
  for (const auto& n : names) {
    std::vector<std::string> childParts = parts;
    childParts.push_back(n);
    if (!PackPath(w, prefix + n, childParts)) return false;
  }
  w.openDirs.pop_back();
  return true;
}

bool PackPath(Walk& w, const std::string& path, const std::vector<std::string>& parts) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return Fail(w, "'" + path + "': " + std::strerror(errno));
  if (S_ISLNK(st.st_mode)) {
    if (!w.options.followSymlinks) {
      std::fprintf(stderr, "lzhsfx: skipping symbolic link '%s' (--follow-symlinks packs its target)\n",
                   path.c_str());
      return true;
    }
    if (stat(path.c_str(), &st) != 0) return Fail(w, "'" + path + "': " + std::strerror(errno));
  }
  if (w.haveExclude && st.st_dev == w.excludeDev && st.st_ino == w.excludeIno) return true;
  if (S_ISDIR(st.st_mode)) return PackDirectory(w, path, parts, st);
  if (!S_ISREG(st.st_mode)) {
    std::fprintf(stderr, "lzhsfx: skipping '%s': not a regular file or folder\n", path.c_str());
    return true;
  }
  if (parts.empty()) return Fail(w, "'" + path + "': no name to store it under");
  if (!w.packed.insert(Join(parts)).second) return true;
  return PackFile(w, path, parts, st);
}

// Member name parts of a path as given: leading "/" and "." parts dropped,
// ".." refused.
bool SplitArgument(const std::string& path, std::vector<std::string>& parts) {
  parts.clear();
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    const std::string part = path.substr(i, j - i);
    if (part == "..") return false;
    if (!part.empty() && part != ".") parts.push_back(part);
    i = j + 1;
  }
  return true;
}

}  // namespace

bool PackPaths(const std::vector<std::string>& paths, const PackOptions& options, std::vector<uint8_t>& archive,
               std::string& error) {
  archive.clear();
  if (options.method != '0' && ParamsForMethod(options.method) == nullptr) {
    error = std::string("unknown method -lh") + options.method + "-";
    return false;
  }
  Walk w{options, archive, error, {}, {}, false, 0, 0};
  struct stat ex;
  if (!options.excludePath.empty() && stat(options.excludePath.c_str(), &ex) == 0) {
    w.haveExclude = true;
    w.excludeDev = ex.st_dev;
    w.excludeIno = ex.st_ino;
  }
  bool ok = true;
  for (const auto& path : paths) {
    std::vector<std::string> parts;
    if (!SplitArgument(path, parts)) {
      error = "'" + path + "': a path with '..' cannot be stored";
      ok = false;
      break;
    }
    if (!PackPath(w, path, parts)) {
      ok = false;
      break;
    }
  }
  if (options.progress) std::fputs("\r\033[K", stderr);
  if (!ok) {
    archive.clear();
    return false;
  }
  archive.push_back(0);
  return true;
}

void AppendStoredMember(std::vector<uint8_t>& archive, const std::string& cp932Name, const std::string& data,
                        uint32_t timeStamp) {
  MemberHeaderFields f;
  // '/' is never the second byte of a CP932 pair, so splitting on it is safe.
  const size_t slash = cp932Name.rfind('/');
  if (slash != std::string::npos) {
    f.directory = cp932Name.substr(0, slash + 1);
    std::replace(f.directory.begin(), f.directory.end(), '/', static_cast<char>(LevelSeparator));
    f.fileName = cp932Name.substr(slash + 1);
  } else {
    f.fileName = cp932Name;
  }
  f.method = '0';
  f.originalSize = f.compressedSize = static_cast<uint32_t>(data.size());
  f.timeStamp = timeStamp;
  f.attributes = AttrArchive;
  f.dataCrc = Crc16Update(0, reinterpret_cast<const uint8_t*>(data.data()), data.size());
  if (AppendLevel2Header(archive, f)) archive.insert(archive.end(), data.begin(), data.end());
}

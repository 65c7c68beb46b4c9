// Walks the given files and folders (children in byte order, each folder
// before its contents), and packs each as one level-2 member: CP932 names,
// Unix time stamp, attributes, data CRC, compressed unless that would not
// shrink it. The result is a function of the input tree alone.
//
// The walk runs on the calling thread and hands each file to a small pool of
// workers that read and compress it; members are appended strictly in walk
// order, so the archive is the same whatever the number of threads.
#include "compress/pack.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "base/format.h"
#include "base/text.h"
#include "platform/cp932.h"
#include "compress/crc16.h"
#include "compress/encoder.h"
#include "compress/header.h"

namespace {

constexpr uint64_t MaxMemberSize = 0xFFFFFFFFull;
constexpr mode_t AnyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;

class Pipeline;

struct Walk {
  const PackOptions& options;
  Pipeline& pipeline;
  std::string& error;                              // a failure of the walk itself
  std::set<std::string> packed;                    // member names already written
  std::vector<std::pair<dev_t, ino_t>> openDirs;   // folders on the current path (loop guard)
  bool haveExclude = false;
  dev_t excludeDev = 0;
  ino_t excludeIno = 0;
};

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
    if (b == '\\' || b == ByteSeparator || b == 0) return false;
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
      f.directory.push_back(static_cast<char>(ByteSeparator));
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

// One member on its way into the archive. A folder's header is ready at
// once; a file is read and compressed by a worker, which fills `bytes` (header
// and data) or `error`, then sets `done`.
struct Member {
  size_t seq = 0;              // position in the archive
  bool isFile = false;
  std::string path;            // the file to read
  std::string display;         // its name for the progress line
  uint64_t size = 0;           // the file's size when the walk saw it
  MemberHeaderFields fields;   // names, time stamp, attributes (and, for a folder, all)
  bool done = false;           // guarded by Pipeline::mutex_
  std::vector<uint8_t> bytes;
  std::string error;
};

// Reads, checks and compresses one file member into m.bytes (or m.error).
// Runs on a worker; the encoder keeps its reused tables per thread.
void BuildFileMember(Member& m, const PackOptions& options, const EncodeProgress& progress) {
  MemberHeaderFields& f = m.fields;
  std::vector<uint8_t> data;
  std::string why;
  if (!ReadWhole(m.path, data, why)) {
    m.error = "'" + m.path + "': " + why;
    return;
  }
  f.originalSize = static_cast<uint32_t>(data.size());
  f.dataCrc = Crc16Update(0, data.data(), data.size());

  std::vector<uint8_t> packed;
  const MethodParams* method = ParamsForMethod(options.method);
  if (method != nullptr && !data.empty())
    packed = EncodeMember(data.data(), data.size(), *method, options.level, progress);
  const bool stored = method == nullptr || data.empty() || packed.size() >= data.size();
  f.method = stored ? '0' : method->digit;
  const std::vector<uint8_t>& body = stored ? data : packed;
  f.compressedSize = static_cast<uint32_t>(body.size());
  if (!AppendLevel2Header(m.bytes, f)) {
    m.error = "'" + m.path + "': the name is too long";
    m.bytes.clear();
    return;
  }
  m.bytes.insert(m.bytes.end(), body.begin(), body.end());
}

// Members in flight between the walk and the archive. The walk (the calling
// thread) adds members in archive order; workers compress files; the calling
// thread appends finished members from the front, in order. Memory stays
// bounded: at most MembersPerWorker members and BytesPerWorker bytes of file
// data per worker are in flight (a larger file goes in alone). Counting members
// alone would let one large file hold up the workers behind a full window of
// small finished ones. The first failed member in archive order stops
// everything; later ones are dropped.
//
// Only the calling thread touches inFlight_, archive_, error_ and bytes_;
// written_ is guarded by printMutex_; workers touch todo_ and Member::done
// under mutex_.
class Pipeline {
 public:
  Pipeline(const PackOptions& options, std::vector<uint8_t>& archive)
      : options_(options), archive_(archive) {
    const unsigned workers = std::max(1u, std::thread::hardware_concurrency());
    maxMembers_ = MembersPerWorker * workers;
    maxBytes_ = BytesPerWorker * workers;
    for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
  }
  ~Pipeline() { Stop(); }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Queues a member; first writes out finished ones while the window is
  // full. False once an earlier member has failed.
  bool Add(std::unique_ptr<Member> m) {
    while (error_.empty() && !inFlight_.empty() &&
           (inFlight_.size() >= maxMembers_ || bytes_ + m->size > maxBytes_))
      WriteFront();
    if (!error_.empty()) return false;
    m->seq = nextSeq_++;
    bytes_ += m->size;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!m->isFile) m->done = true;
    inFlight_.push_back(std::move(m));
    if (inFlight_.back()->isFile) {
      todo_.push_back(inFlight_.back().get());
      workReady_.notify_one();
    }
    return true;
  }

  // Writes out every member still in flight (up to the first failure), then
  // stops the workers. Returns the first member error in archive order, or "".
  std::string Finish() {
    while (error_.empty() && !inFlight_.empty()) WriteFront();
    Stop();
    return error_;
  }

 private:
  // Waits for the front member, then appends it or records its error.
  void WriteFront() {
    std::unique_ptr<Member> m;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      memberDone_.wait(lock, [this] { return inFlight_.front()->done; });
      m = std::move(inFlight_.front());
      inFlight_.pop_front();
    }
    bytes_ -= m->size;
    if (!m->error.empty()) {
      error_ = m->error;
      Stop();
      return;
    }
    archive_.insert(archive_.end(), m->bytes.begin(), m->bytes.end());
    std::lock_guard<std::mutex> print(printMutex_);
    written_ = m->seq + 1;
    if (options_.progress && m->isFile) ShowProgress(m->display, 1, 1);
  }

  void Work() {
    for (;;) {
      Member* m;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        workReady_.wait(lock, [this] { return stopping_ || !todo_.empty(); });
        if (stopping_) return;
        m = todo_.front();
        todo_.pop_front();
      }
      // Only the member next in line shows its progress, so the line on the
      // terminal moves forward through the archive as the sequential one did.
      EncodeProgress progress;
      if (options_.progress)
        progress = [this, m](size_t done) {
          std::lock_guard<std::mutex> print(printMutex_);
          if (m->seq == written_) ShowProgress(m->display, done, m->fields.originalSize);
        };
      BuildFileMember(*m, options_, progress);
      std::lock_guard<std::mutex> lock(mutex_);
      m->done = true;
      memberDone_.notify_all();
    }
  }

  // Drops the queued files and joins the workers (each ends its current file).
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      todo_.clear();
      workReady_.notify_all();
    }
    for (auto& t : threads_)
      if (t.joinable()) t.join();
  }

  const PackOptions& options_;
  std::vector<uint8_t>& archive_;
  static constexpr size_t MembersPerWorker = 32;
  static constexpr uint64_t BytesPerWorker = 32u << 20;
  size_t maxMembers_ = 0;
  uint64_t maxBytes_ = 0;
  uint64_t bytes_ = 0;  // sizes of the files in flight
  size_t nextSeq_ = 0;
  std::string error_;
  std::deque<std::unique_ptr<Member>> inFlight_;  // archive order
  std::mutex mutex_;
  std::condition_variable workReady_, memberDone_;
  std::deque<Member*> todo_;  // files not yet taken by a worker
  bool stopping_ = false;
  std::mutex printMutex_;
  size_t written_ = 0;  // seq of the next member to write (guarded by printMutex_)
  std::vector<std::thread> threads_;
};

bool PackFile(Walk& w, const std::string& path, const std::vector<std::string>& parts, const struct stat& st) {
  auto m = std::make_unique<Member>();
  if (!NamesFor(w, parts, false, m->fields)) return false;
  m->isFile = true;
  m->path = path;
  m->display = Join(parts);
  m->size = static_cast<uint64_t>(st.st_size);
  m->fields.timeStamp = TimeOf(st);
  m->fields.attributes = AttributesOf(st);
  return w.pipeline.Add(std::move(m));
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
      auto m = std::make_unique<Member>();
      if (!AppendLevel2Header(m->bytes, f)) return Fail(w, "'" + path + "': the name is too long");
      if (!w.pipeline.Add(std::move(m))) return false;
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
  Pipeline pipeline(options, archive);
  Walk w{options, pipeline, error, {}, {}, false, 0, 0};
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
  // Members before the point where the walk stopped come first: an error
  // among them is the one to report.
  const std::string memberError = pipeline.Finish();
  if (!memberError.empty()) {
    error = memberError;
    ok = false;
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
    std::replace(f.directory.begin(), f.directory.end(), '/', static_cast<char>(ByteSeparator));
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

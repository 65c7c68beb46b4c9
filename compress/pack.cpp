// Walks the given files and folders (children in byte order, each folder
// before its contents), and packs each as one level-2 member: CP932 names,
// Unix time stamp, attributes, data CRC, compressed unless that would not
// shrink it. The result is a function of the input tree alone.
//
// The walk plans every member first. Packing hands each file to a small
// pool of workers that read and compress it in pieces into a spool of its
// own; members leave strictly in plan order, so the archive is the same
// whatever the number of threads.
#include "compress/pack.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "base/format.h"
#include "base/text.h"
#include "compress/crc16.h"
#include "compress/encoder.h"
#include "platform/cp932.h"
#include "platform/pathpolicy.h"

namespace {

constexpr mode_t AnyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;

// Memory: each worker reads a piece at a time and keeps an encoder of a few
// windows; finished members wait in memory up to SpoolBudget bytes in all
// (at most MemberMemory each), the rest in unnamed files. With MaxWorkers
// that stays well under 64 MB whatever the files' sizes.
constexpr size_t ReadPiece = 256u << 10;
constexpr size_t CopyPiece = 1u << 20;
constexpr unsigned MaxWorkers = 8;
constexpr size_t MembersPerWorker = 32;
constexpr uint64_t SpoolBudget = 24u << 20;
constexpr size_t MemberMemory = 4u << 20;

std::string Join(const std::vector<std::string>& parts) {
  std::string s;
  for (const auto& p : parts) {
    if (!s.empty()) s.push_back('/');
    s.append(p);
  }
  return s;
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

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// ---- The walk -------------------------------------------------------------

struct Walk {
  const PackOptions& options;
  PackPlan& plan;
  std::string& error;                              // why the walk stopped
  std::set<std::string> packed;                    // member names already planned
  std::vector<std::pair<dev_t, ino_t>> openDirs;   // folders on the current path (loop guard)
  bool haveExclude = false;
  dev_t excludeDev = 0;
  ino_t excludeIno = 0;
};

bool Fail(Walk& w, const std::string& message) {
  w.error = message;
  return false;
}

void Note(Walk& w, const std::string& message) {
  if (w.options.note) w.options.note(message);
}

// The member's names in CP932: a folder's name is all directory, a file's
// last part its file name. Sets entry.name, the name the extractor composes.
bool NamesFor(Walk& w, const std::string& path, const std::vector<std::string>& parts, bool isDir,
              PackEntry& entry) {
  MemberHeaderFields& f = entry.fields;
  f.directory.clear();
  f.fileName.clear();
  entry.name.clear();
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string cp;
    if (!StoredNamePart(parts[i], cp)) return Fail(w, Quoted(Join(parts)) + ": the name has no CP932 form");
    entry.name += cp;
    if (isDir || i + 1 < parts.size()) {
      f.directory.append(cp);
      f.directory.push_back(static_cast<char>(ByteSeparator));
      entry.name += '/';
    } else {
      f.fileName = cp;
    }
  }
  // A folder may hold names that leave the destination once extracted.
  const PathVerdict verdict = JudgeMemberName(entry.name, NameBytes::Cp932).verdict;
  if (verdict == PathVerdict::Drive)
    return Fail(w, Quoted(path) + ": its member name \"" + Join(parts) +
                       "\" would open with a drive prefix, which extractors drop or refuse; rename it");
  if (verdict != PathVerdict::Inside)
    return Fail(w, Quoted(path) + ": its member name \"" + Join(parts) +
                       "\" has a part of dots and spaces only, which leaves the destination as "
                       "'..' does; rename it");
  const size_t limit = w.options.maxNameBytes;
  if (limit != 0 && entry.name.size() > limit)
    return Fail(w, Quoted(path) + ": its member name \"" + Join(parts) + "\" is " +
                       std::to_string(entry.name.size()) + " bytes in CP932; an extractor keeps at most " +
                       std::to_string(limit) + " (shorten the path, or pack from a folder nearer to it)");
  return true;
}

bool PlanPath(Walk& w, const std::string& path, const std::vector<std::string>& parts);

bool PlanDirectory(Walk& w, const std::string& path, const std::vector<std::string>& parts,
                   const struct stat& st) {
  const auto id = std::make_pair(st.st_dev, st.st_ino);
  if (std::find(w.openDirs.begin(), w.openDirs.end(), id) != w.openDirs.end()) {
    Note(w, "skipping " + Quoted(path) + ": it leads back into a folder being packed");
    return true;
  }
  if (!parts.empty()) {
    PackEntry e;
    if (!NamesFor(w, path, parts, true, e)) return false;
    if (w.packed.insert(e.name).second) {
      e.fields.method = MethodDirectory;
      e.fields.timeStamp = TimeOf(st);
      e.fields.attributes = AttributesOf(st);
      w.plan.entries.push_back(std::move(e));
    }
  }
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return Fail(w, Quoted(path) + ": " + std::strerror(errno));
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* e = readdir(dir)) {
    const std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  const int why = errno;
  closedir(dir);
  if (why != 0) return Fail(w, Quoted(path) + ": " + std::strerror(why));
  std::sort(names.begin(), names.end());
  w.openDirs.push_back(id);
  const std::string prefix = path == "/" ? path : path + "/";
  for (const auto& n : names) {
    std::vector<std::string> childParts = parts;
    childParts.push_back(n);
    if (!PlanPath(w, prefix + n, childParts)) return false;
  }
  w.openDirs.pop_back();
  return true;
}

// A symbolic link as an -lhd- entry with the link type in its Unix mode,
// as Unix archivers store one: the link's name, '|' and its target, split
// at the last '/' into the directory and file-name records.
bool PlanLink(Walk& w, const std::string& path, const std::vector<std::string>& parts,
              const struct stat& st) {
  if (parts.empty()) return Fail(w, Quoted(path) + ": no name to store it under");
  std::vector<char> buffer(PATH_MAX);
  const ssize_t n = readlink(path.c_str(), buffer.data(), buffer.size());
  if (n < 0) return Fail(w, Quoted(path) + ": " + std::strerror(errno));
  const std::string target(buffer.data(), static_cast<size_t>(n));
  PackEntry e;
  if (!NamesFor(w, path, parts, false, e)) return false;
  std::string cpTarget;
  if (e.name.find(LinkTargetMark) != std::string::npos)
    return Fail(w, Quoted(path) + ": a link whose name holds '|' cannot be stored");
  if (!StoredNamePart(target, cpTarget))
    return Fail(w, Quoted(path) + ": the link's target has no CP932 form");
  const std::string whole = e.name + LinkTargetMark + cpTarget;
  if (w.options.maxNameBytes != 0 && whole.size() > w.options.maxNameBytes)
    return Fail(w, Quoted(path) + ": the link and its target take " + std::to_string(whole.size()) +
                       " bytes in CP932; an extractor keeps at most " + std::to_string(w.options.maxNameBytes));
  MemberHeaderFields& f = e.fields;
  // '/' is never the second byte of a CP932 pair, so splitting on it is safe.
  const size_t slash = whole.rfind('/');
  f.directory = slash == std::string::npos ? "" : whole.substr(0, slash + 1);
  std::replace(f.directory.begin(), f.directory.end(), '/', static_cast<char>(ByteSeparator));
  f.fileName = whole.substr(slash == std::string::npos ? 0 : slash + 1);
  f.method = MethodDirectory;
  f.timeStamp = TimeOf(st);
  f.attributes = AttrArchive;
  f.unixMode = static_cast<uint16_t>(UnixTypeLink | (st.st_mode & 0777));
  if (w.packed.insert(e.name).second) w.plan.entries.push_back(std::move(e));
  return true;
}

bool PlanPath(Walk& w, const std::string& path, const std::vector<std::string>& parts) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return Fail(w, Quoted(path) + ": " + std::strerror(errno));
  if (S_ISLNK(st.st_mode) && !w.options.followSymlinks && w.options.storeSymlinks)
    return PlanLink(w, path, parts, st);
  if (S_ISLNK(st.st_mode)) {
    if (!w.options.followSymlinks) {
      Note(w, "skipping symbolic link " + Quoted(path) + " (--follow-symlinks packs its target)");
      return true;
    }
    if (stat(path.c_str(), &st) != 0) return Fail(w, Quoted(path) + ": " + std::strerror(errno));
  }
  if (w.haveExclude && st.st_dev == w.excludeDev && st.st_ino == w.excludeIno) return true;
  if (S_ISDIR(st.st_mode)) return PlanDirectory(w, path, parts, st);
  if (!S_ISREG(st.st_mode)) {
    Note(w, "skipping " + Quoted(path) + ": not a regular file or folder");
    return true;
  }
  if (parts.empty()) return Fail(w, Quoted(path) + ": no name to store it under");
  PackEntry e;
  if (!NamesFor(w, path, parts, false, e)) return false;
  if (!w.packed.insert(e.name).second) return true;
  e.path = path;
  e.size = static_cast<uint64_t>(st.st_size);
  e.fields.timeStamp = TimeOf(st);
  e.fields.attributes = AttributesOf(st);
  w.plan.bytes += e.size;
  w.plan.entries.push_back(std::move(e));
  return true;
}

// ---- Spools ---------------------------------------------------------------

// The memory that finished members may hold while they wait, shared by all.
class MemoryBudget {
 public:
  explicit MemoryBudget(uint64_t bytes) : left_(static_cast<int64_t>(bytes)) {}
  bool Take(size_t n) {
    int64_t left = left_.load();
    while (left >= static_cast<int64_t>(n))
      if (left_.compare_exchange_weak(left, left - static_cast<int64_t>(n))) return true;
    return false;
  }
  void Give(size_t n) { left_ += static_cast<int64_t>(n); }

 private:
  std::atomic<int64_t> left_;
};

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// A member's header and data on their way to the archive: in memory while
// the budget allows, else in a file without a name (gone with the process,
// whatever ends it) in the spool directory.
class Spool {
 public:
  Spool(MemoryBudget& budget, const std::string& directory) : budget_(budget), directory_(directory) {}
  ~Spool() {
    Clear();
    if (fd_ >= 0) close(fd_);
  }
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  bool Append(const uint8_t* data, size_t size, std::string& why) {
    if (size == 0) return true;
    if (fd_ < 0 && memory_.size() + size <= MemberMemory && budget_.Take(size)) {
      memory_.insert(memory_.end(), data, data + size);
      return true;
    }
    if (fd_ < 0 && !Spill(why)) return false;
    if (!WriteAll(fd_, data, size)) return why = std::strerror(errno), false;
    fileBytes_ += size;
    return true;
  }

  // Drops everything appended so far.
  void Clear() {
    budget_.Give(memory_.size());
    std::vector<uint8_t>().swap(memory_);
    if (fd_ >= 0 && fileBytes_ > 0) {
      if (ftruncate(fd_, 0) == 0) lseek(fd_, 0, SEEK_SET);
      fileBytes_ = 0;
    }
  }

  uint64_t Size() const { return fd_ >= 0 ? fileBytes_ : memory_.size(); }

  bool CopyTo(const ArchiveWriter& out, std::string& error) {
    if (fd_ < 0) return out(memory_.data(), memory_.size(), error);
    std::vector<uint8_t> piece(static_cast<size_t>(std::min<uint64_t>(CopyPiece, fileBytes_)));
    for (uint64_t at = 0; at < fileBytes_;) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(piece.size(), fileBytes_ - at));
      const ssize_t got = pread(fd_, piece.data(), want, static_cast<off_t>(at));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        error = std::string("cannot read back a packed member: ") +
                (got < 0 ? std::strerror(errno) : "its spool file was cut short");
        return false;
      }
      if (!out(piece.data(), static_cast<size_t>(got), error)) return false;
      at += static_cast<uint64_t>(got);
    }
    return true;
  }

 private:
  bool Spill(std::string& why) {
    fd_ = open(directory_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ < 0) {
      // A file system without unnamed files: a named one, unlinked at once.
      std::string temp = directory_ + "/.lzhsfx-spool-XXXXXX";
      fd_ = mkostemp(temp.data(), O_CLOEXEC);
      if (fd_ >= 0) unlink(temp.c_str());
    }
    if (fd_ < 0) {
      why = "cannot make a spool file in " + Quoted(directory_) + ": " + std::strerror(errno);
      return false;
    }
    const bool ok = WriteAll(fd_, memory_.data(), memory_.size());
    if (!ok) why = std::strerror(errno);
    fileBytes_ = memory_.size();
    budget_.Give(memory_.size());
    std::vector<uint8_t>().swap(memory_);
    return ok;
  }

  MemoryBudget& budget_;
  const std::string& directory_;
  std::vector<uint8_t> memory_;
  int fd_ = -1;
  uint64_t fileBytes_ = 0;
};

// ---- Packing --------------------------------------------------------------

// One member in flight. A folder is ready at once; a file is read and
// compressed by a worker, which fills the spool (header and data) or error,
// then sets done.
struct Member {
  const PackEntry* entry = nullptr;
  std::vector<uint8_t> header;
  std::unique_ptr<Spool> spool;
  bool done = false;  // guarded by Pipeline::mutex_
  std::string error;
};

class InputFile {
 public:
  explicit InputFile(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~InputFile() {
    if (fd_ >= 0) close(fd_);
  }
  bool Open() const { return fd_ >= 0; }
  // Up to size bytes at offset; 0 at the end; -1 on an error (errno set).
  ssize_t ReadAt(uint8_t* data, size_t size, uint64_t offset) const {
    size_t done = 0;
    while (done < size) {
      const ssize_t n = pread(fd_, data + done, size - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return -1;
      if (n == 0) break;
      done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
  }

 private:
  int fd_;
};

// Reads, checks and compresses one file into its spool (or m.error). Runs on
// a worker. The data is read up to the size the walk saw: a file that grows
// meanwhile is cut there, one that shrinks is kept as read.
void BuildFileMember(Member& m, const PackOptions& options, std::vector<uint8_t>& piece) {
  const PackEntry& e = *m.entry;
  const std::string who = Quoted(e.path) + ": ";
  InputFile in(e.path);
  if (!in.Open()) {
    m.error = who + std::strerror(errno);
    return;
  }
  Spool& spool = *m.spool;
  const MethodParams* method = ParamsForMethod(options.method);
  std::unique_ptr<MemberEncoder> encoder;
  if (method != nullptr && e.size > 0) encoder = std::make_unique<MemberEncoder>(*method, options.level, e.size);
  std::string why;
  uint16_t crc = 0;
  uint64_t read = 0;
  while (read < e.size) {
    const ssize_t got = in.ReadAt(piece.data(), static_cast<size_t>(std::min<uint64_t>(piece.size(), e.size - read)), read);
    if (got < 0) {
      m.error = who + std::strerror(errno);
      return;
    }
    if (got == 0) break;
    crc = Crc16Update(crc, piece.data(), static_cast<size_t>(got));
    read += static_cast<uint64_t>(got);
    if (encoder) {
      encoder->Put(piece.data(), static_cast<size_t>(got));
      std::vector<uint8_t>& out = encoder->Output();
      if (!spool.Append(out.data(), out.size(), why)) return void(m.error = who + why);
      out.clear();
    } else if (!spool.Append(piece.data(), static_cast<size_t>(got), why)) {
      return void(m.error = who + why);
    }
    if (options.progress) options.progress(static_cast<uint64_t>(got));
  }
  if (encoder) {
    encoder->Finish();
    std::vector<uint8_t>& out = encoder->Output();
    if (!spool.Append(out.data(), out.size(), why)) return void(m.error = who + why);
  }
  MemberHeaderFields f = e.fields;
  f.originalSize = read;
  f.dataCrc = crc;
  // A member that would not shrink is stored: its data is read again, and
  // must be what was read the first time.
  const bool stored = !encoder || spool.Size() >= read;
  if (stored && encoder) {
    spool.Clear();
    uint16_t again = 0;
    for (uint64_t at = 0; at < read;) {
      const ssize_t got = in.ReadAt(piece.data(), static_cast<size_t>(std::min<uint64_t>(piece.size(), read - at)), at);
      if (got <= 0) {
        m.error = who + (got < 0 ? std::strerror(errno) : "the file shrank while it was being packed");
        return;
      }
      again = Crc16Update(again, piece.data(), static_cast<size_t>(got));
      if (!spool.Append(piece.data(), static_cast<size_t>(got), why)) return void(m.error = who + why);
      at += static_cast<uint64_t>(got);
    }
    if (again != crc) {
      m.error = who + "the file changed while it was being packed";
      return;
    }
  }
  f.method = stored ? static_cast<char>(MethodStored) : method->digit;
  f.compressedSize = spool.Size();
  if (!AppendLevel2Header(m.header, f)) m.error = who + "the name is too long for a header";
}

// Members in flight between the plan and the archive. The calling thread
// queues members in plan order and hands finished ones to the writer from
// the front, in order; workers compress files. At most MembersPerWorker
// members per worker are in flight; what they hold waits within the spool
// budget. The first failed member in plan order stops everything; later
// ones are dropped.
//
// Only the calling thread touches inFlight_ and error_; workers touch todo_
// and Member::done under mutex_.
class Pipeline {
 public:
  Pipeline(const PackOptions& options, const ArchiveWriter& out)
      : options_(options), out_(out), budget_(SpoolBudget) {
    const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, MaxWorkers);
    maxMembers_ = MembersPerWorker * workers;
    for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
  }
  ~Pipeline() { Stop(); }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Queues a member; first writes out finished ones while the window is
  // full. False once an earlier member has failed.
  bool Add(const PackEntry& entry) {
    while (error_.empty() && inFlight_.size() >= maxMembers_) WriteFront();
    if (!error_.empty()) return false;
    auto m = std::make_unique<Member>();
    m->entry = &entry;
    m->spool = std::make_unique<Spool>(budget_, options_.spoolDirectory);
    const bool isFile = !entry.path.empty();
    if (!isFile && !AppendLevel2Header(m->header, entry.fields))
      m->error = "a folder's name is too long for a header";
    std::lock_guard<std::mutex> lock(mutex_);
    m->done = !isFile;
    if (isFile) {
      todo_.push_back(m.get());
      workReady_.notify_one();
    }
    inFlight_.push_back(std::move(m));
    return true;
  }

  // Writes out every member still in flight (up to the first failure), then
  // stops the workers. Returns the first error in plan order, or "".
  std::string Finish() {
    while (error_.empty() && !inFlight_.empty()) WriteFront();
    Stop();
    return error_;
  }

 private:
  // Waits for the front member, then writes it or records its error.
  void WriteFront() {
    std::unique_ptr<Member> m;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      memberDone_.wait(lock, [this] { return inFlight_.front()->done; });
      m = std::move(inFlight_.front());
      inFlight_.pop_front();
    }
    std::string error = m->error;
    if (error.empty() && out_(m->header.data(), m->header.size(), error)) m->spool->CopyTo(out_, error);
    if (!error.empty()) {
      error_ = error;
      Stop();
    }
  }

  void Work() {
    std::vector<uint8_t> piece(ReadPiece);
    for (;;) {
      Member* m;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        workReady_.wait(lock, [this] { return stopping_ || !todo_.empty(); });
        if (stopping_) return;
        m = todo_.front();
        todo_.pop_front();
      }
      BuildFileMember(*m, options_, piece);
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
  const ArchiveWriter& out_;
  MemoryBudget budget_;
  size_t maxMembers_ = 0;
  std::string error_;
  std::deque<std::unique_ptr<Member>> inFlight_;  // plan order
  std::mutex mutex_;
  std::condition_variable workReady_, memberDone_;
  std::deque<Member*> todo_;  // files not yet taken by a worker
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace

bool PlanPaths(const std::vector<std::string>& paths, const PackOptions& options, PackPlan& plan,
               std::string& error) {
  plan = PackPlan();
  if (options.method != MethodStored && ParamsForMethod(options.method) == nullptr) {
    error = std::string("unknown method -lh") + options.method + "-";
    return false;
  }
  Walk w{options, plan, error, {}, {}, false, 0, 0};
  struct stat ex;
  if (!options.excludePath.empty() && stat(options.excludePath.c_str(), &ex) == 0) {
    w.haveExclude = true;
    w.excludeDev = ex.st_dev;
    w.excludeIno = ex.st_ino;
  }
  for (const auto& path : paths) {
    std::vector<std::string> parts;
    if (!GivenPathParts(path, parts)) {
      error = Quoted(path) + ": a path with '..' cannot be stored";
      return false;
    }
    if (!PlanPath(w, path, parts)) return false;
  }
  return true;
}

bool PackPlanned(const PackPlan& plan, const PackOptions& options, const ArchiveWriter& out,
                 std::string& error) {
  Pipeline pipeline(options, out);
  for (const PackEntry& e : plan.entries)
    if (!pipeline.Add(e)) break;
  // Members before the point where packing stopped come first: an error
  // among them is the one to report.
  error = pipeline.Finish();
  return error.empty();
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
  f.originalSize = f.compressedSize = data.size();
  f.timeStamp = timeStamp;
  f.attributes = AttrArchive;
  f.dataCrc = Crc16Update(0, reinterpret_cast<const uint8_t*>(data.data()), data.size());
  if (AppendLevel2Header(archive, f)) archive.insert(archive.end(), data.begin(), data.end());
}

#include "sheet/Engine.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <thread>
#include <vector>

#include "platform/Text.h"
#include "sheet/TextWriter.h"
#include "sheet/Workbook.h"

extern char** environ;

namespace sheet {
namespace {

// ---------------------------------------------------------------------------------------
// Workbooks the readers do not handle (.xlsb, Excel 2.1-4.0 worksheets) are converted to
// .xlsx by LibreOffice when it is installed, in a private profile and a temporary folder
// that lives as long as the workbook is open.

constexpr auto kOfficeTimeLimit = std::chrono::seconds(180);

// The office program: $TANKLOAD_SOFFICE when set ("" turns the conversion off), else
// soffice or libreoffice on the PATH.
std::string FindOffice() {
  if (const char* chosen = std::getenv("TANKLOAD_SOFFICE")) return chosen;
  const char* path = std::getenv("PATH");
  std::string_view dirs = path ? path : "/usr/bin:/bin";
  while (!dirs.empty()) {
    const auto colon = dirs.find(':');
    const std::string dir(dirs.substr(0, colon));
    dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
    for (const char* name : {"soffice", "libreoffice"}) {
      const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
  }
  return "";
}

class TemporaryFolder {
 public:
  TemporaryFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tankload-office-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
      throw WorkbookError(std::string("Cannot create a temporary folder: ") + std::strerror(errno));
    }
    path_ = pattern;
  }
  ~TemporaryFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Runs the office converter on `path` into `folder`; the path of the .xlsx it wrote, or
// a text saying why there is none.
std::string ConvertWithOffice(const std::string& office, const std::string& path,
                              const std::filesystem::path& folder, std::string& why) {
  const std::filesystem::path out = folder / "out";
  std::filesystem::create_directories(out);
  std::vector<std::string> args = {office,
                                   "-env:UserInstallation=file://" + (folder / "profile").string(),
                                   "--headless",
                                   "--norestore",
                                   "--convert-to",
                                   "xlsx",
                                   "--outdir",
                                   out.string(),
                                   path};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, office.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    why = "LibreOffice (" + office + ") cannot be started: " + std::strerror(spawned);
    return "";
  }
  const auto deadline = std::chrono::steady_clock::now() + kOfficeTimeLimit;
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      why = "LibreOffice did not finish the conversion in time";
      return "";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(-pid, SIGKILL);  // helpers it may have left behind
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(out, ec)) {
    if (entry.is_regular_file()) return entry.path().string();
  }
  why = "LibreOffice could not convert it either";
  return "";
}

// A limit's message names the workbook in which it was reached.
[[noreturn]] void ThrowLimitOf(const std::string& path, const LimitError& e) {
  throw AutomationError("The workbook " + path +
                        " goes beyond a limit of the conversion: " + e.what());
}

// One open workbook. The reader is made when the worksheets are first asked for.
struct Book {
  std::string path;
  std::unique_ptr<TemporaryFolder> converted;  // declared before the reader that uses it
  std::unique_ptr<WorkbookReader> reader;
  std::vector<std::string> sheetNames;
  bool closed = false;

  WorkbookReader& Reader() {
    if (closed) throw AutomationError("The workbook " + path + " has been closed");
    if (!reader) {
      std::unique_ptr<WorkbookReader> opened;
      try {
        opened = OpenWorkbook(path);
      } catch (const UnsupportedWorkbookError& e) {
        opened = OpenThroughOffice(e);
      } catch (const LimitError& e) {
        ThrowLimitOf(path, e);
      }
      sheetNames = opened->SheetNames();
      reader = std::move(opened);
    }
    return *reader;
  }

 private:
  std::unique_ptr<WorkbookReader> OpenThroughOffice(const UnsupportedWorkbookError& e) {
    const std::string office = FindOffice();
    if (office.empty()) {
      throw WorkbookError(std::string(e.what()) +
                          " (LibreOffice, which could convert it, is not installed)");
    }
    auto folder = std::make_unique<TemporaryFolder>();
    std::string why;
    const std::string copy = ConvertWithOffice(office, path, folder->path(), why);
    if (copy.empty()) throw WorkbookError(std::string(e.what()) + "; " + why);
    try {
      auto opened = OpenWorkbook(copy);
      converted = std::move(folder);
      return opened;
    } catch (const WorkbookError& second) {
      throw WorkbookError(std::string(e.what()) +
                          "; LibreOffice's copy does not read either: " + second.what());
    }
  }
};

// What an application instance owns: its open workbooks.
struct Instance {
  std::vector<std::shared_ptr<Book>> books;
  bool quit = false;

  void RequireRunning() const {
    if (quit) throw AutomationError("The application has quit");
  }
  void Close(const std::shared_ptr<Book>& book) {
    book->closed = true;
    book->reader.reset();
    book->converted.reset();
    std::erase(books, book);
  }
};

// Turns the errors of the readers and of the file system into automation errors, so
// that every failure reaches the caller with its text.
template <typename F>
Variant Guarded(F&& body) {
  try {
    return body();
  } catch (const AutomationError&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw AutomationError("Not enough memory to read the workbook");
  } catch (const std::exception& e) {
    throw AutomationError(e.what());
  }
}

void RequireArgs(const std::string& member, const VariantArgs& args, std::size_t min,
                 std::size_t max) {
  if (args.size() < min || args.size() > max) throw WrongArgumentCount(member);
}

class WorksheetObject : public AutomationObject {
 public:
  WorksheetObject(std::shared_ptr<Instance> instance, std::shared_ptr<Book> book, std::size_t index)
      : instance_(std::move(instance)), book_(std::move(book)), index_(index) {}

  Variant Get(const std::string& name, const VariantArgs& args) override {
    if (SameMemberName(name, "Name")) {
      RequireArgs(name, args, 0, 0);
      return Guarded([&] {
        book_->Reader();
        return Variant::OleStr(book_->sheetNames.at(index_));
      });
    }
    if (SameMemberName(name, "Index")) {
      RequireArgs(name, args, 0, 0);
      return Variant::Integer(static_cast<std::int32_t>(index_ + 1));
    }
    throw UnknownMember(name);
  }

  Variant Call(const std::string& name, const VariantArgs& args) override {
    if (SameMemberName(name, "SaveAs")) {
      RequireArgs(name, args, 1, 16);
      return Guarded([&] {
        instance_->RequireRunning();
        const std::string path = ArgText(name, args[0]);
        int format = kFormatTabText;
        if (args.size() > 1 && !args[1].IsNull() && !args[1].IsEmpty()) {
          format = VariantToInt32(args[1]);
        }
        if (format != kFormatTabText && format != kFormatCurrentPlatformText) {
          throw AutomationError("SaveAs: file format " + std::to_string(format) +
                                " is not supported; the engine writes tab-separated text (20)");
        }
        WorkbookReader& reader = book_->Reader();
        try {
          WriteSheetAsText(reader, index_, path);
        } catch (const LimitError& e) {
          ThrowLimitOf(book_->path, e);
        }
        return Variant();
      });
    }
    return Get(name, args);
  }

 private:
  std::shared_ptr<Instance> instance_;
  std::shared_ptr<Book> book_;
  std::size_t index_;
};

class WorksheetsObject : public AutomationObject {
 public:
  WorksheetsObject(std::shared_ptr<Instance> instance, std::shared_ptr<Book> book)
      : instance_(std::move(instance)), book_(std::move(book)) {}

  Variant Get(const std::string& name, const VariantArgs& args) override {
    if (SameMemberName(name, "Item")) {
      RequireArgs(name, args, 1, 1);
      return Guarded([&] { return Item(args[0]); });
    }
    if (SameMemberName(name, "Count")) {
      RequireArgs(name, args, 0, 0);
      return Guarded([&] {
        book_->Reader();
        return Variant::Integer(static_cast<std::int32_t>(book_->sheetNames.size()));
      });
    }
    throw UnknownMember(name);
  }

  Variant Call(const std::string& name, const VariantArgs& args) override {
    return Get(name, args);
  }

 private:
  Variant Item(const Variant& key) {
    instance_->RequireRunning();
    book_->Reader();
    const auto& names = book_->sheetNames;
    if (key.VType() == varString || key.VType() == varOleStr) {
      // Sheet names are unique regardless of letter case; an exact match goes first.
      for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == key.Text()) return Sheet(i);
      }
      const std::string wanted = platform::UpperCase(key.Text());
      for (std::size_t i = 0; i < names.size(); ++i) {
        if (platform::UpperCase(names[i]) == wanted) return Sheet(i);
      }
      throw AutomationError("The workbook has no worksheet named \"" + key.Text() + "\"");
    }
    const std::int32_t number = VariantToInt32(key);
    if (number < 1 || static_cast<std::size_t>(number) > names.size()) {
      throw AutomationError(names.empty() ? std::string("The workbook has no worksheets")
                                          : "Worksheet index " + std::to_string(number) +
                                                " is out of range (1 to " +
                                                std::to_string(names.size()) + ")");
    }
    return Sheet(static_cast<std::size_t>(number - 1));
  }

  Variant Sheet(std::size_t index) {
    return Variant::Dispatch(std::make_shared<WorksheetObject>(instance_, book_, index));
  }

  std::shared_ptr<Instance> instance_;
  std::shared_ptr<Book> book_;
};

class WorkbookObject : public AutomationObject {
 public:
  WorkbookObject(std::shared_ptr<Instance> instance, std::shared_ptr<Book> book)
      : instance_(std::move(instance)), book_(std::move(book)) {}

  Variant Get(const std::string& name, const VariantArgs& args) override {
    if (SameMemberName(name, "Worksheets") || SameMemberName(name, "Sheets")) {
      RequireArgs(name, args, 0, 0);
      return Guarded([&] {
        instance_->RequireRunning();
        book_->Reader();
        return Variant::Dispatch(std::make_shared<WorksheetsObject>(instance_, book_));
      });
    }
    if (SameMemberName(name, "FullName")) {
      RequireArgs(name, args, 0, 0);
      return Variant::OleStr(book_->path);
    }
    throw UnknownMember(name);
  }

  Variant Call(const std::string& name, const VariantArgs& args) override {
    if (SameMemberName(name, "Close")) {
      // The engine never changes a workbook, so there is nothing to save either way.
      RequireArgs(name, args, 0, 3);
      instance_->RequireRunning();
      if (book_->closed) throw AutomationError("The workbook " + book_->path + " is not open");
      instance_->Close(book_);
      return Variant();
    }
    return Get(name, args);
  }

 private:
  std::shared_ptr<Instance> instance_;
  std::shared_ptr<Book> book_;
};

class WorkbooksObject : public AutomationObject {
 public:
  explicit WorkbooksObject(std::shared_ptr<Instance> instance) : instance_(std::move(instance)) {}

  Variant Get(const std::string& name, const VariantArgs& args) override {
    if (SameMemberName(name, "Count")) {
      RequireArgs(name, args, 0, 0);
      instance_->RequireRunning();
      return Variant::Integer(static_cast<std::int32_t>(instance_->books.size()));
    }
    throw UnknownMember(name);
  }

  Variant Call(const std::string& name, const VariantArgs& args) override {
    if (SameMemberName(name, "Open")) {
      RequireArgs(name, args, 1, 15);
      return Guarded([&] { return Open(ArgText(name, args[0])); });
    }
    return Get(name, args);
  }

 private:
  Variant Open(const std::string& path) {
    instance_->RequireRunning();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw AutomationError("Cannot open " + path + ": " + std::strerror(errno));
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    if (!regular) throw AutomationError("Cannot open " + path + ": not a file");
    auto book = std::make_shared<Book>();
    book->path = path;
    instance_->books.push_back(book);
    return Variant::Dispatch(std::make_shared<WorkbookObject>(instance_, std::move(book)));
  }

  std::shared_ptr<Instance> instance_;
};

class ApplicationObject : public AutomationObject {
 public:
  ApplicationObject() : instance_(std::make_shared<Instance>()) {}

  bool HasQuit() const { return instance_->quit; }

  Variant Get(const std::string& name, const VariantArgs& args) override {
    if (SameMemberName(name, "Workbooks")) {
      RequireArgs(name, args, 0, 0);
      instance_->RequireRunning();
      return Variant::Dispatch(std::make_shared<WorkbooksObject>(instance_));
    }
    throw UnknownMember(name);
  }

  Variant Call(const std::string& name, const VariantArgs& args) override {
    if (SameMemberName(name, "Quit")) {
      RequireArgs(name, args, 0, 0);
      instance_->RequireRunning();
      while (!instance_->books.empty()) instance_->Close(instance_->books.back());
      instance_->quit = true;
      return Variant();
    }
    return Get(name, args);
  }

 private:
  std::shared_ptr<Instance> instance_;
};

class EngineClass : public AutomationClass {
 public:
  std::shared_ptr<AutomationObject> GetRunningInstance() override {
    auto running = running_.lock();
    if (!running || running->HasQuit()) {
      throw AutomationError("Operation unavailable: no running instance of " +
                            std::string(kNativeEngineClassName));
    }
    return running;
  }

  std::shared_ptr<AutomationObject> CreateInstance() override {
    auto created = std::make_shared<ApplicationObject>();
    running_ = created;
    return created;
  }

 private:
  std::weak_ptr<ApplicationObject> running_;
};

}  // namespace

std::shared_ptr<AutomationClass> NativeEngineClass() {
  static const auto engine = std::make_shared<EngineClass>();
  return engine;
}

void RegisterNativeEngine() {
  RegisterAutomationClass(kNativeEngineClassName, NativeEngineClass());
}

}  // namespace sheet

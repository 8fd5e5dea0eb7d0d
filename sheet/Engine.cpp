#include "sheet/Engine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "platform/Text.h"
#include "sheet/TextWriter.h"
#include "sheet/Workbook.h"

namespace sheet {
namespace {

// One open workbook. The reader is made when the worksheets are first asked for.
struct Book {
  std::string path;
  std::unique_ptr<WorkbookReader> reader;
  std::vector<std::string> sheetNames;
  bool closed = false;

  WorkbookReader& Reader() {
    if (closed) throw AutomationError("The workbook " + path + " has been closed");
    if (!reader) {
      auto opened = OpenWorkbook(path);
      sheetNames = opened->SheetNames();
      reader = std::move(opened);
    }
    return *reader;
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
        WriteSheetAsText(book_->Reader(), index_, path);
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

#include "sheet/Xlsfun.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <system_error>

#include "platform/Files.h"
#include "platform/Text.h"
#include "platform/Ui.h"
#include "sheet/Automation.h"

namespace sheet {
namespace {

constexpr char kApplicationClass[] = "Excel.Application";
constexpr int kTabTextFormat = 20;

// True when `textPath` names the file at `workbookPath`: the same device and inode when
// both can be looked up, otherwise the same absolute, normalised path. Letter case
// counts, as it does on the file systems of this platform.
bool NamesSameFile(const std::string& workbookPath, const std::string& textPath) {
  struct stat book {
  }, text{};
  if (::stat(workbookPath.c_str(), &book) == 0 && ::stat(textPath.c_str(), &text) == 0) {
    return book.st_dev == text.st_dev && book.st_ino == text.st_ino;
  }
  std::error_code ec;
  const auto a = std::filesystem::absolute(workbookPath, ec).lexically_normal();
  if (ec) return workbookPath == textPath;
  const auto b = std::filesystem::absolute(textPath, ec).lexically_normal();
  if (ec) return workbookPath == textPath;
  return a == b;
}

// Whether the old text at the text path could be removed, which is what replacing it
// by the new text takes; it is not removed here. The new text is written to a temporary
// file beside it and renamed over it only once the whole sheet has been written, so a
// workbook that cannot be read costs the user nothing. Only a file (or a link) can be
// replaced: a directory there counts as a text file that cannot be deleted, as does a
// file in a folder the process may not change, in a folder with the sticky bit that
// neither the process nor the file belongs to, or a file marked immutable or append-only.
bool CanReplaceText(const std::string& textPath) {
  struct stat info {};
  if (::lstat(textPath.c_str(), &info) != 0) return errno == ENOENT || errno == ENOTDIR;
  if (S_ISDIR(info.st_mode)) return false;
  const auto slash = textPath.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".")
                             : slash == 0               ? std::string("/")
                                                        : textPath.substr(0, slash);
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return false;
  struct stat folderInfo {};
  if (::stat(folder.c_str(), &folderInfo) != 0) return false;
  const uid_t user = ::geteuid();
  if ((folderInfo.st_mode & S_ISVTX) != 0 && user != 0 && info.st_uid != user &&
      folderInfo.st_uid != user) {
    return false;
  }
  if (S_ISREG(info.st_mode)) {
    const int fd = ::open(textPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      int flags = 0;
      const bool fixed = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                         (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
      ::close(fd);
      if (fixed) return false;
    }
  }
  return true;
}

}  // namespace

std::string DerivedTextPath(const std::string& workbookPath) {
  const auto last = workbookPath.find_last_of(".:/");
  if (last != std::string::npos && workbookPath[last] == '.') {
    return workbookPath.substr(0, last) + ".txt";
  }
  return workbookPath + ".txt";
}

}  // namespace sheet

std::string SaveSheetAsText(const std::string& workbookPathArg, const std::string& sheetName,
                            const std::string& textPathArg) {
  using sheet::OleCall;
  using sheet::OleGet;

  const std::string workbookPath = platform::Trim(workbookPathArg);
  if (workbookPath.empty() || !platform::FileExists(workbookPath)) return "";

  std::string textPath = platform::Trim(textPathArg);
  if (textPath.empty()) textPath = sheet::DerivedTextPath(workbookPath);

  // A text path that names the workbook itself (a workbook whose name already ends in
  // ".txt") would have the workbook deleted and overwritten: refuse, leave it as it is.
  if (sheet::NamesSameFile(workbookPath, textPath)) {
    platform::ShowMessage("Текстовый файл <" + textPath +
                          "> совпадает с файлом книги.\nКнига не может быть сохранена "
                          "в собственный файл; она оставлена без изменений.");
    return "";
  }

  if (!sheet::CanReplaceText(textPath)) {
    platform::ShowMessage("Не могу удалить файл <" + textPath + ">");
    return "";
  }

  // Declared in this order so that leaving the function early releases them in the
  // order worksheet, worksheet collection, workbook, workbook collection, application.
  Variant application = Variant::Null();
  Variant workbooks = Variant::Null();
  Variant workbook = Variant::Null();
  Variant worksheets = Variant::Null();
  Variant worksheet = Variant::Null();
  std::string step;

  try {
    application = sheet::GetActiveOleObject(sheet::kApplicationClass);
  } catch (const std::exception&) {
    application = Variant::Null();
  }
  if (application.IsNull()) {
    try {
      application = sheet::CreateOleObject(sheet::kApplicationClass);
    } catch (const std::exception& e) {
      platform::ShowMessage(std::string("Не могу запустить приложение MSExcel\n") + e.what());
      return "";
    }
  }

  const Variant bookPath = Variant::OleStr(workbookPath);
  try {
    step = "Get WorkBooks collection";
    workbooks = OleGet(application, "Workbooks");
    try {
      workbook = OleCall(workbooks, "Open", {bookPath});
    } catch (const std::exception&) {
      workbook = Variant::Null();
    }
  } catch (const std::exception& e) {
    platform::ShowMessage("Ошибка при открытии файла.\n" + step + "\n" + e.what());
    return "";
  }
  if (workbook.IsNull() || workbook.IsEmpty()) {
    try {
      application = sheet::CreateOleObject(sheet::kApplicationClass);
      workbooks = OleGet(application, "Workbooks");
      workbook = OleCall(workbooks, "Open", {bookPath});
    } catch (const std::exception&) {
      platform::ShowMessage(
          "Не могу запустить приложение MSExcel.\n"
          "Если оно у Вас уже запущено закройте его и повторите попытку.");
      return "";
    }
  }

  try {
    worksheets = OleGet(workbook, "Worksheets");
    if (platform::IsBlank(sheetName)) {
      worksheet = OleGet(worksheets, "Item", {Variant::Integer(1)});
    } else {
      worksheet = OleGet(worksheets, "Item", {Variant::OleStr(sheetName)});
    }
  } catch (const std::exception& e) {
    platform::ShowMessage(std::string("Ошибка доступа к книге/листу\n") + e.what());
    return "";
  }

  std::optional<std::string> saveError;
  try {
    OleCall(worksheet, "SaveAs",
            {Variant::OleStr(textPath), Variant::Integer(sheet::kTabTextFormat), Variant::Null(),
             Variant::Null(), Variant::Boolean(false), Variant::Boolean(false),
             Variant::Boolean(false), Variant::Null(), Variant::Null()});
  } catch (const std::exception& e) {
    saveError = e.what();
  }
  if (saveError) {
    // An error while reading the name passes to the caller, as the references go.
    const std::string name = sheet::VariantToText(OleGet(worksheet, "Name"));
    platform::ShowMessage("Ошибка сохранения содержимого листа <" + name + ">\n" + *saveError);
    return "";
  }

  try {
    OleCall(workbook, "Close", {Variant::Boolean(false)});
    if (sheet::VariantToInt32(OleGet(workbooks, "Count")) == 0) OleCall(application, "Quit");
  } catch (const std::exception&) {
    // Closing is a courtesy to the application: the text file has been written.
  }

  worksheet = Variant::Null();
  worksheets = Variant::Null();
  workbook = Variant::Null();
  workbooks = Variant::Null();
  application = Variant::Null();
  return textPath;
}

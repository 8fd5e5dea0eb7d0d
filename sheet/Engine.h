#pragma once
// The native workbook engine: an in-process automation class served under the name
// "Excel.Application" with the members the spreadsheet bridge calls.
//
//   Application: Workbooks (property), Quit (method)
//   Workbooks:   Open(path) -> Workbook, Count (property)
//   Workbook:    Worksheets (property), Close([saveChanges]), Name (property)
//   Worksheets:  Item(1-based index or name) -> Worksheet, Count (property)
//   Worksheet:   Name (property), SaveAs(path, 20, ...) writes tab-separated UTF-8 text
//
// Open only checks that the file can be read; the workbook's content is read when its
// worksheets are first asked for, so that a file that is no workbook, or a corrupt one,
// is reported with its cause when the worksheet is looked up, and opening the file in a
// fresh instance is not mistaken for the remedy.
//
// A workbook of a kind the readers do not handle (a binary .xlsb, an Excel 2.1-4.0
// worksheet, an encrypted workbook) is handed to LibreOffice when it is installed
// (soffice on the PATH, or the program named by $TANKLOAD_SOFFICE; an empty value turns
// this off): it converts the file to .xlsx in a private profile and a temporary folder,
// within three minutes, and the engine reads that copy. When neither works the error
// says so.
//
// The running instance: the last instance created in this process that has not been
// told to quit and that someone still holds a reference to. An instance whose last
// reference is dropped goes away with its open workbooks, as an invisible application
// started for automation does, so no workbook stays open in memory behind the caller's
// back; with no such instance, asking for the running one fails.

#include <memory>

#include "sheet/Automation.h"

namespace sheet {

inline constexpr char kNativeEngineClassName[] = "Excel.Application";

// The class object of the engine (one per process).
std::shared_ptr<AutomationClass> NativeEngineClass();

// Registers the engine under "Excel.Application". The registry falls back to the engine
// for that name anyway; the call makes the choice explicit at start-up and replaces a
// class registered before.
void RegisterNativeEngine();

// SaveAs file formats the engine writes: tab-separated text (and the same under the
// "current platform text" code).
inline constexpr int kFormatTabText = 20;
inline constexpr int kFormatCurrentPlatformText = -4158;

}  // namespace sheet

// The report pages of the exception dialog's detailed mode: child dialogs
// of its page control, one at a time, created when their tab is chosen.
#pragma once

#include <windows.h>

#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/report/dialog/dialog_content.h"
#include "exceptlog/report/dialog/source_request.h"

namespace vellum::exceptlog {

// What a page reads while it lives; owned by the dialog.
struct PageContext {
  HWND dialog = nullptr;  // the exception dialog (its style, its activity count)
  const TRuzadaModuleOptions* options = nullptr;
  const DialogContent* content = nullptr;
};

inline constexpr int kPageControlId = 1000;
inline constexpr int kPageLabelId = 102;
inline constexpr int kPageContentId = 103;

// Destroys `current` (when not null) and creates page `number` (0 General,
// 1 Call Stack, 2 Modules, 3 CPU, 4 Other) inside the page control, fitted.
HWND CreateReportPage(const PageContext& context, HWND page_control, HWND current, int number);
// Destroys the page (the dialog's destruction may have taken its window
// already) and frees what it held.
void DestroyReportPage(HWND page);
// Fits a page into the page control's display area.
void FitReportPage(HWND page_control, HWND page);

// Writes the request to a listening mailslot; false when none listens or
// the write was short.
bool SendSourceRequest(const SourceRequest& request);

}  // namespace vellum::exceptlog

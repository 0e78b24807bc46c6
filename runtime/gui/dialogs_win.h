// The modal message dialog of the class library.
#pragma once

#include <string>

namespace vellum::gui {

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgButton : unsigned { mbYes = 1, mbNo = 2, mbOK = 4, mbCancel = 8 };

// Shows `text` modally with the type's caption ("Information" for
// mtInformation) and icon; answers the button chosen as a modal result.
int MessageDlg(const std::string& text, TMsgDlgType type, unsigned buttons, int help_context);

// The caption a dialog of this type carries.
const char* MessageDlgCaption(TMsgDlgType type);

}  // namespace vellum::gui

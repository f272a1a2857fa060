#pragma once
// The one seam through which every modal message box and dialog is shown, so that tests
// can answer them without a user.

#include <QString>
#include <functional>

class QDialog;
class QWidget;

namespace oxlip::ui {

enum class MsgIcon { None, Critical, Question, Information, Warning };
enum class MsgButtons { Ok, YesNo };
enum class MsgResult { Ok, Yes, No };

// A modal message box captioned "Oxlip".
MsgResult ShowMessage(QWidget* parent, const QString& text, MsgIcon icon, MsgButtons buttons);

// Runs a dialog modally and returns its result code (QDialog::Accepted or Rejected).
int ExecDialog(QDialog* dialog);

// Test hooks: while set, they answer in place of the user. Null restores the real boxes.
using MessageResponder = std::function<MsgResult(const QString& text, MsgIcon, MsgButtons)>;
using DialogResponder = std::function<int(QDialog* dialog)>;
void SetMessageResponder(MessageResponder responder);
void SetDialogResponder(DialogResponder responder);

} // namespace oxlip::ui

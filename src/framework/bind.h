#pragma once
// Binding handlers to Qt controls with the event semantics the handlers were
// written for (not Qt's defaults):
//
//   combo box click/change   the user picks an item; never when ItemIndex is
//                            set from code                  (activated)
//   combo box double click   the user double-clicks the closed combo
//   check box click          the user clicks it, and also when Checked is
//                            set from code and changes      (toggled)
//   button click             the user clicks it (or Space/Enter)  (clicked)
//   edit change              the text changes, from the user or code
//   track bar change         the position changes, from the user or code
//
// Every handler runs inside SafeCall: an exception is reported by the
// top-level handler and never crosses Qt. Bindings live as long as the
// control. UI thread only.

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include "framework/events.h"

namespace ronvix::fw {

void BindClick(QComboBox* combo, TNotifyEvent handler);
void BindDblClick(QComboBox* combo, TNotifyEvent handler);
void BindClick(QCheckBox* check, TNotifyEvent handler);
void BindClick(QAbstractButton* button, TNotifyEvent handler);
void BindChange(QLineEdit* edit, TNotifyEvent handler);
void BindChange(QAbstractSlider* slider, TNotifyEvent handler);
// A click on a container (group box, panel) by the left mouse button.
void BindClick(QWidget* widget, TNotifyEvent handler);

}  // namespace ronvix::fw

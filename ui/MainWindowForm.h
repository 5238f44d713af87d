#pragma once

#include "ui_MainWindowForm.h"

// The main window's widget tree. The tree itself lives in MainWindowForm.ui so that it
// can be edited in Designer; this class only gives the generated code the names the rest
// of the program uses. Every member is a non-owning pointer named by the widget's
// object name; the widgets belong to the window through the usual parent chain.
class MainWindowForm : public Ui_MainWindow
{
public:
    // Builds the tree into the window, sets the texts and connects the window's
    // on_<object>_<signal> slots by name.
    void setupForm(QMainWindow *window) { setupUi(window); }
    // Sets every user-visible text again (translation context "MainWindow"); this also
    // puts back the placeholder texts of the status panel.
    void retranslateForm(QMainWindow *window) { retranslateUi(window); }
};

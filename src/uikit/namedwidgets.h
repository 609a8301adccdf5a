#pragma once
// Controls made with their object names, by which the program's tests find them, and the small
// groups of controls that several dialogs share.
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <functional>

inline QLabel* NamedLabel(const QString& text, const char* name, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

inline QLineEdit* NamedEdit(const char* name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    return edit;
}

// A field that only shows a value: it takes no typing and no focus.
QLineEdit* DisplayOnly(QLineEdit* edit);
// Each showing of the dialog starts with the focus in `field` (its text selected, so that
// typing replaces it).
void FocusOnShow(QDialog* dialog, QWidget* field);
// The same for the field `field()` gives at each showing (the one a refused answer blamed).
void FocusOnShow(QDialog* dialog, std::function<QWidget*()> field);

// The dialog's OK button `BitBtn1`, pressed by Enter.
QPushButton* OkButton(QDialog* dialog);
// The dialog's Cancel button `BitBtn2`.
QPushButton* CancelButton(QDialog* dialog);
class QHBoxLayout;
// OK and Cancel side by side, centred.
QHBoxLayout* CentredButtons(QPushButton* ok, QPushButton* cancel);

// " Image Name ": the band's number and its file's name, as the segmentation dialogs show
// them; the controls are made into the dialog's members of these names.
void MakeBandNameGroup(QDialog* dialog, const QString& numberLabel, QGroupBox*& GroupBox1,
                       QLabel*& Label1, QLineEdit*& NumberEdit, QLabel*& Label2,
                       QLineEdit*& NameEdit);

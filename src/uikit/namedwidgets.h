#pragma once
// Controls made with their object names, by which the program's tests find them.
#include <QLabel>
#include <QLineEdit>
#include <QString>

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

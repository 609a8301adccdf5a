#pragma once
// The core speaks std::string (UTF-8), the toolkit QString.
#include <QString>
#include <string>

inline QString Q(const std::string& text) {
    return QString::fromStdString(text);
}
inline std::string S(const QString& text) {
    return text.toStdString();
}

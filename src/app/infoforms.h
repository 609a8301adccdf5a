#pragma once
// The nine information dialogs: fixed texts, no state.
#include <QDialog>

class QPushButton;

class TAuthorForm : public QDialog {
    Q_OBJECT
public:
    explicit TAuthorForm(QWidget* parent = nullptr);
    QPushButton* BitBtn1 = nullptr;
};

class TCopyrightForm : public QDialog {
    Q_OBJECT
public:
    explicit TCopyrightForm(QWidget* parent = nullptr);
    QPushButton* BitBtn1 = nullptr;
};

class TEnglishInfoForm : public QDialog {
    Q_OBJECT
public:
    explicit TEnglishInfoForm(QWidget* parent = nullptr);
    QPushButton* BitBtn1 = nullptr;
};

class TFrenchInfoForm : public QDialog {
    Q_OBJECT
public:
    explicit TFrenchInfoForm(QWidget* parent = nullptr);
    QPushButton* BitBtn1 = nullptr;
};

class TSpanishInfoForm : public QDialog {
    Q_OBJECT
public:
    explicit TSpanishInfoForm(QWidget* parent = nullptr);
    QPushButton* BitBtn1 = nullptr;
};

class TReferenceForm : public QDialog {
    Q_OBJECT
public:
    explicit TReferenceForm(QWidget* parent = nullptr);
    QPushButton* BitBtn1 = nullptr;
};

class TInfoSegmSSForm : public QDialog {
    Q_OBJECT
public:
    explicit TInfoSegmSSForm(QWidget* parent = nullptr);
    QPushButton* BitBtn1 = nullptr;
};

class TEquipopInfoForm : public QDialog {
    Q_OBJECT
public:
    explicit TEquipopInfoForm(QWidget* parent = nullptr);
    QPushButton* BitBtn1 = nullptr;
};

class TDefinitionInfoForm : public QDialog {
    Q_OBJECT
public:
    explicit TDefinitionInfoForm(QWidget* parent = nullptr);
    QPushButton* BitBtn1 = nullptr;
};

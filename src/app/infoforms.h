#pragma once
// The nine information dialogs: fixed texts, no state. Each is created once and shown modally
// by one menu command of the main window.
#include <QDialog>
#include <array>

class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// About > Author: the authors, a further contributor, the laboratory and the contact.
class TAuthorForm : public QDialog {
    Q_OBJECT
  public:
    explicit TAuthorForm(QWidget* parent = nullptr);
    QGroupBox* GroupBox1 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    std::array<QLabel*, 5> AuthorLabels{};   // in GroupBox1
    std::array<QLabel*, 4> ContactLabels{};  // in GroupBox2
    QPushButton* BitBtn1 = nullptr;
  public slots:
    void BitBtn1Click();
};

// About > Copyright: the rights holder's short name, full name and whereabouts.
class TCopyrightForm : public QDialog {
    Q_OBJECT
  public:
    explicit TCopyrightForm(QWidget* parent = nullptr);
    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label1 = nullptr;  // short name, large bold type
    QLabel* Label2 = nullptr;  // full name
    QLabel* Label3 = nullptr;
    QPushButton* BitBtn1 = nullptr;
  public slots:
    void BitBtn1Click();
};

// About > Infos > English / French / Spanish: a description of the program in an editable memo.
class TEnglishInfoForm : public QDialog {
    Q_OBJECT
  public:
    explicit TEnglishInfoForm(QWidget* parent = nullptr);
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
  public slots:
    void BitBtn1Click();
};

class TFrenchInfoForm : public QDialog {
    Q_OBJECT
  public:
    explicit TFrenchInfoForm(QWidget* parent = nullptr);
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
  public slots:
    void BitBtn1Click();
};

class TSpanishInfoForm : public QDialog {
    Q_OBJECT
  public:
    explicit TSpanishInfoForm(QWidget* parent = nullptr);
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
  public slots:
    void BitBtn1Click();
};

// About > References: a picture above the author, name and date of the earlier program.
class TReferenceForm : public QDialog {
    Q_OBJECT
  public:
    explicit TReferenceForm(QWidget* parent = nullptr);
    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* BitBtn1 = nullptr;
};

// Treatments > Segmentation > Info: one explanation per thresholding method.
class TInfoSegmSSForm : public QDialog {
    Q_OBJECT
  public:
    explicit TInfoSegmSSForm(QWidget* parent = nullptr);
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* BitBtn1 = nullptr;
};

class TEquipopInfoForm : public QDialog {
    Q_OBJECT
  public:
    explicit TEquipopInfoForm(QWidget* parent = nullptr);
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* BitBtn1 = nullptr;
};

class TDefinitionInfoForm : public QDialog {
    Q_OBJECT
  public:
    explicit TDefinitionInfoForm(QWidget* parent = nullptr);
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* BitBtn1 = nullptr;
};

#include "app/infoforms.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <algorithm>
#include <initializer_list>

#include "app/glyphs.h"

namespace {

constexpr int kMargin = 16;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kLineStep = 20;

void SetUp(QDialog* dialog, const char* name, const QString& caption, int width, int height) {
    dialog->setObjectName(name);
    dialog->setWindowTitle(caption);
    dialog->setFixedSize(width, height);
    dialog->setModal(true);
}

// The OK button, at the bottom right below the contents.
QPushButton* AddOkButton(QDialog* dialog) {
    auto* ok = new QPushButton("OK", dialog);
    ok->setObjectName("BitBtn1");
    ok->setIcon(dialog->style()->standardIcon(QStyle::SP_DialogOkButton));
    ok->setDefault(true);
    ok->setGeometry(dialog->width() - kButtonWidth - 12, dialog->height() - kButtonHeight - 12,
                    kButtonWidth, kButtonHeight);
    return ok;
}

QLabel* AddLabel(QWidget* parent, const QString& name, const QString& text, int x, int y) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->move(x, y);
    return label;
}

// Shrinks the labels' common font until the longest text fits `width`, so that the fixed
// texts stay whole inside the fixed dialog sizes whatever the platform's default font.
void FitLabels(std::initializer_list<QLabel*> labels, int width) {
    QFont font = (*labels.begin())->font();
    int pixels = QFontInfo(font).pixelSize();
    for (;;) {
        font.setPixelSize(pixels);
        const QFontMetrics metrics(font);
        int widest = 0;
        for (const QLabel* label : labels) {
            widest = std::max(widest, metrics.horizontalAdvance(label->text()));
        }
        if (widest <= width || pixels <= 8) break;
        --pixels;
    }
    for (QLabel* label : labels) {
        label->setFont(font);
        label->adjustSize();
    }
}

QPlainTextEdit* AddMemo(QDialog* dialog, const QString& text, int width, int height) {
    auto* memo = new QPlainTextEdit(text, dialog);
    memo->setObjectName("Memo1");
    memo->setGeometry(kMargin, kMargin, width, height);
    return memo;
}

// The narrowest width, up to `width`, at which a wrapped label takes as many lines as at
// `width`: its lines come out about as long as each other, and none ends as one word alone.
int BalancedWidth(const QLabel* label, int width) {
    const int height = label->heightForWidth(width);
    int narrow = width / 2, wide = width;  // `wide` always keeps the height
    while (narrow < wide) {
        const int middle = (narrow + wide) / 2;
        if (label->heightForWidth(middle) <= height) {
            wide = middle;
        } else {
            narrow = middle + 1;
        }
    }
    return wide;
}

// The two lines of a method's information, in the dialogs' own font: a line longer than the
// dialog is wide goes on below, its lines balanced, and the second line follows it.
void AddTwoLines(QDialog* dialog, QLabel*& first, QLabel*& second, const QString& line1,
                 const QString& line2) {
    const int width = dialog->width() - 2 * kMargin;
    int top = kMargin;
    for (QLabel** label : {&first, &second}) {
        *label = AddLabel(dialog, label == &first ? "Label1" : "Label2",
                          label == &first ? line1 : line2, kMargin, top);
        (*label)->setWordWrap(true);
        const int balanced = BalancedWidth(*label, width);
        (*label)->setFixedSize(balanced, (*label)->heightForWidth(balanced));
        top += (*label)->height() + 2;
    }
}

const char* const kEnglishText =
    "Tessera_V2 grew out of Tessera, an earlier program written for MS-DOS.\n"
    "\n"
    "It analyses the spectral response of a set of up to ten bands of one scene, each band "
    "previously segmented into gray-level segments: by segmentation stricto sensu (equal "
    "ranges of the dynamic scale), by equipopulation (segments holding about the same number "
    "of pixels) or by segment limits defined by the user.\n"
    "\n"
    "The crossing of the segmented images is the final treatment: every combination of "
    "segments becomes a code, rare codes are eliminated and the codes kept are painted as the "
    "classes of the resulting image.";

const char* const kFrenchText =
    "Tessera_V2 est issu de Tessera, un programme antérieur écrit pour MS-DOS.\n"
    "\n"
    "Il analyse la réponse spectrale d'un ensemble de dix bandes au plus d'une même scène, "
    "préalablement segmentées en niveaux de gris : segmentation stricto sensu (intervalles "
    "égaux de l'échelle dynamique), équipopulation (segments contenant à peu près le même "
    "nombre de pixels) ou limites de segments définies par l'utilisateur.\n"
    "\n"
    "Le croisement des images segmentées constitue le traitement final : chaque combinaison "
    "de segments devient un code, les codes rares sont éliminés et les codes retenus sont "
    "peints comme classes de l'image résultat.";

const char* const kSpanishText =
    "Tessera_V2 procede de Tessera, un programa anterior escrito para MS-DOS.\n"
    "\n"
    "Analiza la respuesta espectral de un conjunto de hasta diez bandas de una misma escena, "
    "previamente segmentadas en niveles de gris: segmentación stricto sensu (intervalos "
    "iguales de la escala dinámica), equipoblación (segmentos con aproximadamente el mismo "
    "número de píxeles) o límites de segmentos definidos por el usuario.\n"
    "\n"
    "El cruce de las imágenes segmentadas es el tratamiento final: cada combinación de "
    "segmentos se convierte en un código, los códigos poco frecuentes se eliminan y los "
    "códigos retenidos se pintan como clases de la imagen resultante.\n"
    "\n"
    "\n";

}  // namespace

// ----- About > Author -----
TAuthorForm::TAuthorForm(QWidget* parent) : QDialog(parent) {
    SetUp(this, "AuthorForm", " Author", 310, 322);
    const int boxWidth = width() - 2 * 8;
    GroupBox1 = new QGroupBox(" Authors ", this);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setGeometry(8, 8, boxWidth, 140);
    const QString authors[] = {"Tessera_V2", "written by the Tessera_V2 project",
                               "and its contributors,", "multi-band image analysis",
                               "after the earlier Tessera for MS-DOS"};
    for (size_t k = 0; k < AuthorLabels.size(); ++k) {
        AuthorLabels[k] = AddLabel(GroupBox1, QString("Label%1").arg(k + 1), authors[k], 14,
                                   26 + kLineStep * static_cast<int>(k));
    }
    FitLabels({AuthorLabels[0], AuthorLabels[1], AuthorLabels[2], AuthorLabels[3], AuthorLabels[4]},
              boxWidth - 28);

    GroupBox2 = new QGroupBox(" Contributors and contact ", this);
    GroupBox2->setObjectName("GroupBox2");
    GroupBox2->setGeometry(8, 156, boxWidth, 116);
    const QString contacts[] = {"with the Tessera_V2 maintainers", "Open image analysis workshop",
                                "Contact: the project's public", "issue tracker"};
    for (size_t k = 0; k < ContactLabels.size(); ++k) {
        ContactLabels[k] = AddLabel(GroupBox2, QString("Label%1").arg(AuthorLabels.size() + k + 1),
                                    contacts[k], 14, 26 + kLineStep * static_cast<int>(k));
    }
    FitLabels({ContactLabels[0], ContactLabels[1], ContactLabels[2], ContactLabels[3]},
              boxWidth - 28);

    BitBtn1 = AddOkButton(this);
    connect(BitBtn1, &QPushButton::clicked, this, &TAuthorForm::BitBtn1Click);
}

void TAuthorForm::BitBtn1Click() {
    accept();
}

// ----- About > Copyright -----
TCopyrightForm::TCopyrightForm(QWidget* parent) : QDialog(parent) {
    SetUp(this, "CopyrightForm", " Copyright", 292, 188);
    const int boxWidth = width() - 2 * 8;
    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setGeometry(8, 8, boxWidth, 130);

    Label1 = AddLabel(GroupBox1, "Label1", "Tessera_V2 Project", 14, 16);
    QFont large = Label1->font();
    large.setPixelSize(24);
    large.setBold(true);
    Label1->setFont(large);
    Label1->adjustSize();
    Label2 = AddLabel(GroupBox1, "Label2", "Tessera_V2 Open Image Analysis Project", 14, 62);
    Label3 = AddLabel(GroupBox1, "Label3", "Open development community", 14, 88);
    FitLabels({Label2, Label3}, boxWidth - 28);

    BitBtn1 = AddOkButton(this);
    connect(BitBtn1, &QPushButton::clicked, this, &TCopyrightForm::BitBtn1Click);
}

void TCopyrightForm::BitBtn1Click() {
    accept();
}

// ----- About > Infos -----
TEnglishInfoForm::TEnglishInfoForm(QWidget* parent) : QDialog(parent) {
    SetUp(this, "EnglishInfoForm", " Info", 356, 226);
    Memo1 = AddMemo(this, kEnglishText, 321, 137);
    BitBtn1 = AddOkButton(this);
    connect(BitBtn1, &QPushButton::clicked, this, &TEnglishInfoForm::BitBtn1Click);
}

void TEnglishInfoForm::BitBtn1Click() {
    accept();
}

TFrenchInfoForm::TFrenchInfoForm(QWidget* parent) : QDialog(parent) {
    SetUp(this, "FrenchInfoForm", " Info", 395, 233);
    Memo1 = AddMemo(this, kFrenchText, 361, 145);
    BitBtn1 = AddOkButton(this);
    connect(BitBtn1, &QPushButton::clicked, this, &TFrenchInfoForm::BitBtn1Click);
}

void TFrenchInfoForm::BitBtn1Click() {
    accept();
}

TSpanishInfoForm::TSpanishInfoForm(QWidget* parent) : QDialog(parent) {
    SetUp(this, "SpanishInfoForm", " Info", 355, 248);
    Memo1 = AddMemo(this, kSpanishText, 321, 161);
    BitBtn1 = AddOkButton(this);
    connect(BitBtn1, &QPushButton::clicked, this, &TSpanishInfoForm::BitBtn1Click);
}

void TSpanishInfoForm::BitBtn1Click() {
    accept();
}

// ----- About > References -----
TReferenceForm::TReferenceForm(QWidget* parent) : QDialog(parent) {
    SetUp(this, "ReferenceForm", " Reference", 258, 418);
    constexpr int kPictureWidth = 209;
    constexpr int kPictureHeight = 249;
    Image1 = new QLabel(this);
    Image1->setObjectName("Image1");
    Image1->setPixmap(glyphs::ReferencePicture(kPictureWidth, kPictureHeight));
    Image1->setGeometry((width() - kPictureWidth) / 2, 12, kPictureWidth, kPictureHeight);

    const int top = 12 + kPictureHeight + 12;
    Label1 = AddLabel(this, "Label1", "The Tessera project", 0, top);
    Label2 = AddLabel(this, "Label2", "Tessera for MS-DOS", 0, top + 24);
    Label3 = AddLabel(this, "Label3", "1990s", 0, top + 48);
    for (QLabel* label : {Label1, Label2, Label3}) {
        QFont font = label->font();
        font.setPixelSize(15);
        label->setFont(font);
        label->adjustSize();
        label->move((width() - label->width()) / 2, label->y());
    }

    BitBtn1 = AddOkButton(this);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
}

// ----- Treatments > Segmentation > Info -----
TInfoSegmSSForm::TInfoSegmSSForm(QWidget* parent) : QDialog(parent) {
    SetUp(this, "InfoSegmSSForm", " Segmentation Treatment Info", 310, 144);
    AddTwoLines(this, Label1, Label2, "The dynamic scale is segmented considering its minimum",
                "and its maximum value.");
    BitBtn1 = AddOkButton(this);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
}

TEquipopInfoForm::TEquipopInfoForm(QWidget* parent) : QDialog(parent) {
    SetUp(this, "EquipopInfoForm", " Equipopulation Treatment Info", 326, 142);
    AddTwoLines(this, Label1, Label2, "The program tries to obtain an equal distribution of the ",
                "pixel number in each segment.");
    BitBtn1 = AddOkButton(this);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
}

TDefinitionInfoForm::TDefinitionInfoForm(QWidget* parent) : QDialog(parent) {
    SetUp(this, "DefinitionInfoForm", " Definition Treatment Info", 293, 142);
    AddTwoLines(this, Label1, Label2, "The user defines the dynamic scale limits  of each ",
                "segment based on a previous histogram analysis.");
    BitBtn1 = AddOkButton(this);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
}

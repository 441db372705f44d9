#include "widgets/SvComboBox.h"

#include "ui_SvComboBox.h"
#include "widgets/SVComboBoxBase.h"
#include "widgets/SvStyleSheet.h"

#include <QLineEdit>
#include <QTimer>

namespace {
const QString activeFrame = QStringLiteral("#D7E7EE");
const QString activeText = QStringLiteral("#004B6A");
const QString idleFrame = QStringLiteral("transparent");
const QString idleText = QStringLiteral("#A7A7A7");
} // namespace

SvComboBox::SvComboBox(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::SvComboBox)
{
    ui->setupUi(this);
    connect(ui->cb_combox_in_widget, &SVComboBoxBase::popupShown, this, [this] {
        // After the popup has taken over the paint, or the restyle is lost under it.
        QTimer::singleShot(0, this, [this] {
            setFrameColor(activeFrame);
            setTextColor(activeText);
        });
    });
    connect(ui->cb_combox_in_widget, &SVComboBoxBase::popupHidden, this, [this] {
        setFrameColor(idleFrame);
        setTextColor(idleText);
    });
    ui->cb_combox_in_widget->setEditable(true);
    // A pick from the list (or a choice made in code) is finished at once; typing is finished
    // by the edit itself, on Enter or when the focus leaves. The current text changes with
    // every keystroke, so it must not count.
    connect(ui->cb_combox_in_widget, &QComboBox::currentIndexChanged, this,
            [this] { emit signalLineEditEditingFinished(); });
}

SvComboBox::~SvComboBox()
{
    delete ui;
}

SVComboBoxBase* SvComboBox::comboBox() const
{
    return ui->cb_combox_in_widget;
}

void SvComboBox::setEditEnabled(bool enabled)
{
    QLineEdit* edit = ui->cb_combox_in_widget->lineEdit();
    if (!edit) {
        return;
    }
    disconnect(textChangedConnection);
    disconnect(editingFinishedConnection);
    if (enabled) {
        textChangedConnection = connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) {
            emit signalLineEditTextChanged(text);
            setFrameColor(activeFrame);
            setTextColor(activeText);
        });
        editingFinishedConnection = connect(edit, &QLineEdit::editingFinished, this, [this] {
            emit signalLineEditEditingFinished();
            setFrameColor(idleFrame);
            setTextColor(idleText);
        });
    }
    edit->setReadOnly(!enabled);
}

void SvComboBox::setFrameColor(const QString& colour)
{
    ui->comboBoxWidget->setStyleSheet(SvStyleSheet::replaceDeclaration(
        ui->comboBoxWidget->styleSheet(), "border", "border: 2px solid " + colour + ";"));
}

void SvComboBox::setTextColor(const QString& colour)
{
    setStyleProperty("color", "color: " + colour + ";");
}

void SvComboBox::setStyleProperty(const QString& property, const QString& declaration)
{
    ui->cb_combox_in_widget->setStyleSheet(SvStyleSheet::replaceDeclaration(
        ui->cb_combox_in_widget->styleSheet(), property, declaration));
}

#include "app/font_address_dlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/dialog_units.h"

namespace kestrel {
namespace {

constexpr int IDC_FONT_ADDRESS = 2038;

}  // namespace

CFontAddressDlg::CFontAddressDlg(uint32_t dwAddress, QWidget* pParent) : QDialog(pParent), m_dwAddress(dwAddress)
{
    setWindowTitle(QStringLiteral("FONT DOWNLOAD"));
    const CDialogUnits du(font());
    setFixedSize(du.Size(150, 52));

    (new QLabel(QStringLiteral("Start Address :"), this))->setGeometry(du.Rect(9, 11, 52, 8));
    (new QLabel(QStringLiteral("0x"), this))->setGeometry(du.Rect(64, 11, 10, 8));
    m_editAddress = new QLineEdit(QString::number(dwAddress, 16), this);
    m_editAddress->setProperty("controlId", IDC_FONT_ADDRESS);
    m_editAddress->setMaxLength(kFontAddressMaxDigits);
    m_editAddress->setGeometry(du.Rect(75, 9, 66, 12));
    connect(m_editAddress, &QLineEdit::textEdited, this, [this] { MarkField(false); });

    auto* pOk = new QPushButton(QStringLiteral("OK"), this);
    pOk->setDefault(true);
    pOk->setGeometry(du.Rect(29, 31, 50, 14));
    connect(pOk, &QPushButton::clicked, this, &CFontAddressDlg::accept);
    auto* pCancel = new QPushButton(QStringLiteral("Cancel"), this);
    pCancel->setGeometry(du.Rect(84, 31, 50, 14));
    connect(pCancel, &QPushButton::clicked, this, &CFontAddressDlg::reject);
}

void CFontAddressDlg::accept()
{
    const std::optional<uint32_t> optAddress = ParseFontAddress(m_editAddress->text().toStdString());
    if (!optAddress) {
        MarkField(true);
        return;
    }
    m_dwAddress = *optAddress;
    QDialog::accept();
}

void CFontAddressDlg::MarkField(bool bMarked)
{
    if (bMarked == m_bFieldMarked) return;
    m_bFieldMarked = bMarked;
    m_editAddress->setStyleSheet(bMarked ? QStringLiteral("QLineEdit { background: #ffd0d0; border: 1px solid #c00000; }") : QString());
    if (bMarked) {
        m_editAddress->setFocus();
        m_editAddress->selectAll();
    }
}

}  // namespace kestrel

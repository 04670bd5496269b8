#include "app/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/dialog_units.h"

namespace kestrel {
namespace {

constexpr int IDC_VERSION = 1042;

}  // namespace

CAboutDlg::CAboutDlg(const QString& strVersion, QWidget* pParent) : QDialog(pParent)
{
    setWindowTitle(QStringLiteral("Kestrel 정보"));
    const CDialogUnits du(font());
    setFixedSize(du.Size(235, 57));

    auto* pIcon = new QLabel(this);
    const QRect rcIcon = du.Rect(11, 17, 20, 20);
    pIcon->setGeometry(rcIcon);
    pIcon->setPixmap(windowIcon().pixmap(rcIcon.size()));

    auto* pVersion = new QLabel(strVersion, this);
    pVersion->setProperty("controlId", IDC_VERSION);
    pVersion->setGeometry(du.Rect(40, 10, 185, 8));
    (new QLabel(QStringLiteral("Norvale Meridian Lab, handset tools"), this))->setGeometry(du.Rect(40, 25, 130, 8));
    (new QLabel(QStringLiteral("Firmware download over a serial line"), this))->setGeometry(du.Rect(40, 40, 130, 8));

    auto* pOk = new QPushButton(QStringLiteral("확인"), this);
    pOk->setDefault(true);
    pOk->setGeometry(du.Rect(178, 36, 50, 14));
    connect(pOk, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace kestrel

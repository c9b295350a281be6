#include "panels/AboutDialog.h"

#include "app/Settings.h"

#include <QDate>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace
{
QString const TITLE_TEXT = QStringLiteral(
    "<html><body><p><span style=\" font-family:'Segoe UI'; font-size:12pt; font-weight:600;\">"
    "&lt;Application Name&gt;</span></p></body></html>");

QString const ABOUT_TEXT = QStringLiteral(
    "<html><body style=\" font-family:'Segoe UI'; font-size:9pt;\">"
    "<p>&lt;Application Name&gt; plays, compares and annotates image sequences, movies and sound "
    "for review.</p>"
    "<p>Built with Qt &lt;qt_version&gt;, the FFmpeg libraries and Rubber Band.</p>"
    "<p>Copyright &copy; &lt;Year&gt; the &lt;Application Name&gt; developers.</p>"
    "</body></html>");
} // namespace

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent)
{
    resize(536, 378);
    setWindowTitle(QStringLiteral("About ") + Settings::applicationTitle);
    QString const family = Settings::generalFont.family();

    QString title = TITLE_TEXT;
    title.replace(QStringLiteral("&lt;Application Name&gt;"), Settings::applicationTitle);
    title.replace(QStringLiteral("Segoe UI"), family);
    title.replace(QStringLiteral("font-size:12pt;"), QStringLiteral("font-size:20pt;"));
    mTitle = new QLabel(title, this);
    mTitle->setTextFormat(Qt::RichText);
    mTitle->setMinimumWidth(360);

    mVersion = new QLabel(Settings::applicationVersion, this);
    auto* versionRow = new QHBoxLayout();
    versionRow->addWidget(new QLabel(tr("Version: "), this));
    versionRow->addWidget(mVersion);
    versionRow->addStretch();

    QString text = ABOUT_TEXT;
    text.replace(QStringLiteral("Segoe UI"), family);
    text.replace(QStringLiteral("&lt;Application Name&gt;"), Settings::applicationTitle);
    text.replace(QStringLiteral("&lt;Year&gt;"), QString::number(QDate::currentDate().year()));
    text.replace(QStringLiteral("&lt;qt_version&gt;"), Settings::QT_RUNTIME_VERSION);
    text.replace(QStringLiteral("font-size:9pt;"), QStringLiteral("font-size:12pt;"));
    mText = new QTextBrowser(this);
    mText->setReadOnly(true);
    mText->setHtml(text);

    auto* ok = new QPushButton(tr("OK"), this);
    ok->setMinimumSize(60, 24);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    buttons->addWidget(ok);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(mTitle);
    layout->addLayout(versionRow);
    layout->addWidget(mText);
    layout->addLayout(buttons);
}

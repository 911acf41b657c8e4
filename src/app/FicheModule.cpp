#include "FicheModule.h"

#include "settings/DataModuleSdb.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <QTranslator>
#include <QVBoxLayout>

#include "DataError.h"
#include "FicheExporter.h"
#include "FicheImpression.h"
#include "ParameterFile.h"
#include "ui/Dialogs.h"

// The resources live in a static library: register them explicitly.
static void InitAppResources() { Q_INIT_RESOURCE(app); }

namespace tessaly {

namespace {
TFicheModule::TWindowRunner gRunner;

QPixmap SplashPicture() {
  InitAppResources();
  QPixmap pix(QStringLiteral(":/app/splash.png"));
  if (pix.isNull()) {
    pix = QPixmap(795, 183);
    pix.fill(QColor(0x5b, 0x52, 0x5e));
  }
  QPainter p(&pix);
  p.setRenderHint(QPainter::TextAntialiasing);
  QFont f = p.font();
  f.setPixelSize(64);
  f.setBold(true);
  p.setFont(f);
  p.setPen(QColor(0xf4, 0xef, 0xf6));
  p.drawText(pix.rect().adjusted(40, 0, 0, -30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Tessaly"));
  f.setPixelSize(18);
  f.setBold(false);
  p.setFont(f);
  p.drawText(pix.rect().adjusted(44, 80, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Impression, export et envoi des documents commerciaux"));
  return pix;
}
}  // namespace

void TFicheModule::SetWindowRunner(TWindowRunner runner) { gRunner = std::move(runner); }

TFicheModule::TFicheModule(QWidget* parent) : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("FicheModule"));
  FVersion = kVersionText;
  setWindowTitle(QStringLiteral("Tessaly - ") + FVersion);

  Image1 = new QLabel(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  QPixmap pix = SplashPicture();
  Image1->setPixmap(pix);
  Image1->setScaledContents(false);
  Image1->setAlignment(Qt::AlignCenter);
  Image1->setMinimumSize(pix.width() / 2, pix.height() / 2);

  pbAvance = new QProgressBar(this);
  pbAvance->setObjectName(QStringLiteral("pbAvance"));
  pbAvance->setRange(0, 5);
  pbAvance->setValue(0);

  btnFermer = new QPushButton(QStringLiteral("Fermer"), this);
  btnFermer->setObjectName(QStringLiteral("btnFermer"));
  btnFermer->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
  connect(btnFermer, &QPushButton::clicked, this, &TFicheModule::btnFermerClick);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(100);
  Timer1->setSingleShot(true);
  connect(Timer1, &QTimer::timeout, this, &TFicheModule::Timer1Timer);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Image1, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(pbAvance, 1);
  bottom->addWidget(btnFermer);
  layout->addLayout(bottom);
  resize(pix.width() + 24, pix.height() + 64);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

TFicheModule::~TFicheModule() {
  FDroits.clear();
  FPiecesJointes.clear();
}

bool TFicheModule::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) FormActivate();
  return QWidget::event(e);
}

void TFicheModule::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  // Some platforms (and no window manager at all) never activate a window;
  // showing it counts as its first activation.
  FormActivate();
}

void TFicheModule::closeEvent(QCloseEvent* e) {
  QWidget::closeEvent(e);
  emit Closed();
}

void TFicheModule::FormActivate() {
  if (FActivated) return;
  Timer1->start();
  FActivated = true;
}

void TFicheModule::btnFermerClick() {
  Timer1->stop();
  close();
}

void TFicheModule::LectureParametres() {
  TParametresJob job = LectureFichierParametres(FFichierParametres, [this] { pbAvance->setValue(pbAvance->value() + 1); });
  FAgence = job.Agence;
  FUtilisateur = job.Utilisateur;
  FDroits.append(job.Droits);
  FFichierXml = job.FichierXml;
  FPiecesJointes.append(job.PiecesJointes);
}

void TFicheModule::Timer1Timer() {
  Timer1->stop();
  if (FDispatched) return;
  FDispatched = true;
  auto run = [](QDialog& window) {
    if (gRunner)
      gRunner(window);
    else
      window.exec();
  };
  try {
    pbAvance->setMaximum(5);
    pbAvance->setValue(0);
    LectureParametres();
    if (FModeImpression == kModeExporter) {
      TFicheExporter exporter(this);
      exporter.SetVersion(FVersion);
      exporter.SetFichierParametres(FFichierParametres);
      exporter.SetModeImpression(FModeImpression);
      exporter.SetAgence(FAgence);
      exporter.SetUtilisateur(FUtilisateur);
      hide();
      run(exporter);
      if (exporter.Echec()) FCodeSortie = 1;
    } else {
      TFicheImpression impression(this);
      impression.SetVersion(FVersion);
      impression.SetFichierParametres(FFichierParametres);
      impression.SetModeImpression(FModeImpression);
      impression.SetAgence(FAgence);
      impression.SetUtilisateur(FUtilisateur);
      impression.SetDroits(&FDroits);
      impression.SetFichierXml(FFichierXml);
      impression.SetPiecesJointes(&FPiecesJointes);
      hide();
      run(impression);
    }
  } catch (const std::exception& e) {
    ui::ShowMessage(ExceptionMessage(e), this);
  } catch (...) {
    ui::ShowMessage(QString(), this);
  }
  close();
}

bool ApplyVisualStyle() {
  InitAppResources();
  QFile sheet(QStringLiteral(":/app/SmokeyQuartzKamri.qss"));
  QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"));
  if (!fusion || !sheet.open(QIODevice::ReadOnly)) {
    delete fusion;
    return false;
  }
  QApplication::setStyle(fusion);
  QPalette pal;
  pal.setColor(QPalette::Window, QColor(0x4a, 0x44, 0x4d));
  pal.setColor(QPalette::WindowText, QColor(0xee, 0xea, 0xf0));
  pal.setColor(QPalette::Base, QColor(0x3a, 0x35, 0x3d));
  pal.setColor(QPalette::AlternateBase, QColor(0x52, 0x4b, 0x56));
  pal.setColor(QPalette::Text, QColor(0xee, 0xea, 0xf0));
  pal.setColor(QPalette::Button, QColor(0x5b, 0x52, 0x5e));
  pal.setColor(QPalette::ButtonText, QColor(0xee, 0xea, 0xf0));
  pal.setColor(QPalette::Highlight, QColor(0x9a, 0x7e, 0xa6));
  pal.setColor(QPalette::HighlightedText, Qt::white);
  pal.setColor(QPalette::ToolTipBase, QColor(0x5b, 0x52, 0x5e));
  pal.setColor(QPalette::ToolTipText, QColor(0xee, 0xea, 0xf0));
  // Disabled controls and menu items must look disabled: dimmed text, and
  // no light etching that would make them brighter than enabled ones.
  const QColor dimmed(0x8e, 0x85, 0x92);
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    pal.setColor(QPalette::Disabled, role, dimmed);
  pal.setColor(QPalette::Disabled, QPalette::Light, QColor(0x4a, 0x44, 0x4d));
  QApplication::setPalette(pal);
  qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
  return true;
}

void PlateformeSansEcran() {
  if (!ui::UnattendedRequested() || qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) return;
  if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) return;
  qputenv("QT_QPA_PLATFORM", "offscreen");
}

bool InstallFrenchTranslations() {
  auto* translator = new QTranslator(qApp);
  if (!translator->load(QStringLiteral("qtbase_fr"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

int TessalyMain(const QStringList& arguments) {
  InstallFrenchTranslations();
  if (arguments.size() != 3) {
    ui::ShowMessage(kMessageArguments);
    return 0;
  }
  ApplyVisualStyle();
  int code = 0;
  try {
    // The process ends when the start-up window closes, not when the last
    // visible window does: the start-up window is hidden while the working
    // window runs.
    QApplication::setQuitOnLastWindowClosed(false);
    // The settings data module lives for the whole process; its database
    // stays closed until a window needs it.
    TDataModuleSdb dataModule;
    SetDataModuleSdb(&dataModule);
    TFicheModule fiche;
    QObject::connect(&fiche, &TFicheModule::Closed, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    fiche.SetFichierParametres(arguments.at(1));
    fiche.SetModeImpression(QLocale::system().toUpper(arguments.at(2)));
    fiche.show();
    qApp->exec();
    code = fiche.CodeSortie();
  } catch (const std::exception& e) {
    ui::ShowMessage(ExceptionMessage(e));
  } catch (...) {
    ui::ShowMessage(QString());
  }
  return code;
}

}  // namespace tessaly

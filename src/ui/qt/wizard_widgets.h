// The wizard's pages as Qt dialogs. Each page forwards its controls to the
// page logic of wizard_pages.h and shows what the logic left in the session.
#pragma once

#include <QDialog>
#include <cstdint>

#include "ui/driver_info.h"
#include "ui/wizard_pages.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;
class QTreeWidget;

namespace tk571::ui {

// Shows the pages from the start page until one ends the wizard.
void RunWizard(WizardSession& session, uintptr_t owner_window);

class TStartFrm : public QDialog {
 public:
  TStartFrm(WizardSession& session, const DriverInfo& info);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Next();

  WizardSession& session_;
  const DriverInfo& info_;
  StartPageLogic logic_;
  QRadioButton* new_op_;
  QRadioButton* modify_op_;
  QRadioButton* browse_op_;
};

class TStep1Frm : public QDialog {
 public:
  TStep1Frm(WizardSession& session, const DriverInfo& info);
};

class TStep11Frm : public QDialog {
 public:
  TStep11Frm(WizardSession& session, const DriverInfo& info);
};

// The device list, for modifying (TStep2Frm) and for creating several
// devices (TStep12Frm).
class DeviceListPage : public QDialog {
 public:
  DeviceListPage(WizardSession& session, const DriverInfo& info, uint8_t own_page);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Rebuild();
  int Selected() const;
  void ShowSelected();
  void NumberEdited();
  void SetNumber(int number);

  const DriverInfo& info_;
  DeviceListLogic logic_;
  QTreeWidget* tree_;
  QLineEdit* id_ed_;
  QComboBox* type_ed_;
};

class TStep2Frm : public DeviceListPage {
 public:
  TStep2Frm(WizardSession& session, const DriverInfo& info);
};

class TStep12Frm : public DeviceListPage {
 public:
  TStep12Frm(WizardSession& session, const DriverInfo& info);
};

class TStep4Frm : public QDialog {
 public:
  TStep4Frm(WizardSession& session, const DriverInfo& info);
};

class TEndFrm : public QDialog {
 public:
  TEndFrm(WizardSession& session, const DriverInfo& info);
};

}  // namespace tk571::ui

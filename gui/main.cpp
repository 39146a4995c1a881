#include "app/wizard_main.h"
#include "pages/interior_pages.h"
#include "wizard/bootp_wizard_sheet.h"
#include "wizard/wizard_application.h"

int main(int argc, char* argv[]) {
  return quillnet::WizardMain([&] { return quillnet::StartWizardApplication(argc, argv); },
                              [](quillnet::CBootpWizardInfo& info) {
                                return quillnet::ShowBootpWizardSheetWith(
                                    info, quillnet::MakeInteriorPages);
                              });
}

// The two diagnostic dialogs behind the exports Properties and Server.
// On Windows real modal dialogs from the module's dialog templates; on
// other platforms console forms on the calling thread's standard input and
// output. Both block the calling thread until closed and throw nothing.
#ifndef VORNLINK_UI_DIALOGS_H_
#define VORNLINK_UI_DIALOGS_H_

namespace vornlink {

// The list of the settings document's Setup items.
void ShowPropertiesDialog();

// The emulated DMS: serves the TCP transport until the dialog is closed.
void ShowServerDialog();

}  // namespace vornlink

#endif  // VORNLINK_UI_DIALOGS_H_

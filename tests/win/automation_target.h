// Ids and texts of the automation tests' target dialog, shared by the target program
// (automation_target.cpp and .rc) and the test that drives it.
#ifndef QUILLANE_TESTS_AUTOMATION_TARGET_H
#define QUILLANE_TESTS_AUTOMATION_TARGET_H

#define TARGET_APP_NAME "winauto target"
#define TARGET_CAPTION "自动化 target"

#define TARGET_DIALOG 100
#define TARGET_STATUS 1000    // static text
#define TARGET_EDIT 1001      // edit
#define TARGET_COMBO 1002     // drop-down list
#define TARGET_MESSAGE 1003   // button: shows an application message box
#define TARGET_RED 1004       // button: draws the status text red
#define TARGET_BLOCK 1005     // button: holds the user-interface thread for 2 s
#define TARGET_HANDLES 1006   // button: opens 10 more event handles
#define TARGET_DISABLED 1007  // a disabled button

#endif

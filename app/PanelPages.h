#pragma once
// The pages that other parts of the program build, registered with the page panel before the
// main window is made.

void InstallPanelPages();

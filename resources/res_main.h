#pragma once
// Resource numbers of the main window, its pages and the progress dialog.

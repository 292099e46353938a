#pragma once
// Resource numbers of the manage dialogs and menus.

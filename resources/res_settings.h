#pragma once
// Resource numbers of the settings dialogs and menus.

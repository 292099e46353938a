#pragma once
// Resource numbers of the trees dialogs and menus.

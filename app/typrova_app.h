// CTypingApp: the application object. It runs the main window once, modally, and ends the
// program when the window closes.
#pragma once

#include "app.h"

class CTypingApp : public CWinApp {
public:
    BOOL InitInstance() override;

    const MessageMap* GetMessageMap() const override;
};

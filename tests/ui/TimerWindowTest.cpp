#include "ui/TimerWindow.h"

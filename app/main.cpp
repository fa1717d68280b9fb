// SPDX-License-Identifier: GPL-3.0-or-later
// The program: the one application object, and the framework's entry.
#include "app/CisternApp.h"
#include "resources/resource.h"

CCisternApp theApp;

int main(int argc, char** argv)
{
    CisternInitResources();
    return AfxWinMain(argc, argv);
}

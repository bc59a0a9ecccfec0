// The same setup sequence written the ordinary way, on the C++ standard
// library and linked statically. Kept only to measure choco-gui-setup against.
#include <cstdlib>
#include <iostream>

int main() {
    std::system(
        "%SystemRoot%\\System32\\WindowsPowerShell\\v1.0\\powershell.exe -NoProfile"
        " -InputFormat None -ExecutionPolicy Bypass -Command"
        " \"[System.Net.ServicePointManager]::SecurityProtocol ="
        " [System.Net.ServicePointManager]::SecurityProtocol -bor 3072;"
        " iex ((New-Object System.Net.WebClient).DownloadString("
        "'https://community.chocolatey.org/install.ps1'))\"");
    std::system("%ProgramData%\\chocolatey\\bin\\choco.exe install chocolateygui -y");
    std::cout << "Creating Desktop Shortcut...\n";
    std::system(
        "%SystemRoot%\\System32\\WindowsPowerShell\\v1.0\\powershell.exe -NoProfile"
        " -InputFormat None -ExecutionPolicy Bypass -Command"
        " \"Copy-Item -LiteralPath (Join-Path $env:ProgramData"
        " 'Microsoft\\Windows\\Start Menu\\Programs\\Chocolatey GUI.lnk')"
        " -Destination (Join-Path ([Environment]::GetFolderPath('Desktop'))"
        " 'Chocolatey GUI.lnk')\"");
    std::cout << "\nPress enter to continue\n";
    std::cin.get();
}

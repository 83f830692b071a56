// The port listing of --list-ports, over a device folder made of pseudo terminals, links and a
// file that is no terminal.

#include "app/PortListing.h"
#include "serial/DeviceRoutines.h"
#include "serial/PosixDevice.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <pty.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace
{

// A pseudo terminal whose device end the listing opens.
struct Pty {
    int controller = -1, device = -1;
    std::string path;
    Pty()
    {
        char name[128] = {};
        if (openpty(&controller, &device, name, nullptr, nullptr) == 0)
            path = name;
    }
    ~Pty()
    {
        close(controller);
        close(device);
    }
};

TEST(PortListingTest, NamedAndPresentPortsWithStableNamesAndWhetherTheyOpen)
{
    testsupport::TempDir dir;
    const std::string dev = std::filesystem::canonical(dir.Path()).string();
    Pty acm, usb;
    ASSERT_FALSE(acm.path.empty());
    ASSERT_FALSE(usb.path.empty());
    std::filesystem::create_symlink(acm.path, dev + "/ttyACM1");
    std::filesystem::create_symlink(usb.path, dev + "/ttyUSB0");
    std::filesystem::create_symlink(dev + "/nothing", dev + "/ttyUSB7");
    std::filesystem::create_directories(dev + "/serial/by-id");
    std::filesystem::create_symlink("../../ttyUSB0", dev + "/serial/by-id/usb-Test_A1-if00-port0");
    dir.Write("ttyS3", "no terminal"); // a UART that does not answer is no port
    dir.Write("loader.ini", "[Devices]\nCOM1=" + dev + "/ttyACM1\nCOM2=" + dev + "/gone\n");
    // Another program holds the adapter.
    ASSERT_EQ(flock(usb.device, LOCK_EX | LOCK_NB), 0);

    const std::string previousIni = serial::DeviceIniFile();
    const serial::TDeviceRoutines previous = serial::InstalledDeviceRoutines();
    serial::SetDeviceIniFile(dev + "/loader.ini");
    serial::InstallDeviceRoutines(serial::PosixDeviceRoutines());
    const std::vector<loader::ListedPort> ports = loader::ListPorts(dev, 2);
    serial::InstallDeviceRoutines(previous);
    serial::SetDeviceIniFile(previousIni);

    std::string got;
    for (const loader::ListedPort &port : ports)
        got += port.name + " | " + port.device + " | " + port.stableName + " | " +
               (port.opens ? "yes" : port.reason) + "\n";
    EXPECT_EQ(got, "COM1 | " + dev + "/ttyACM1 |  | yes\n" +           //
                       "COM2 | " + dev + "/gone |  | No such file or directory\n" +
                       " | " + dev + "/ttyUSB0 | " + dev +
                       "/serial/by-id/usb-Test_A1-if00-port0 | Device or resource busy\n" +
                       " | " + dev + "/ttyUSB7 |  | No such file or directory\n");

    const std::string table = loader::FormatPortList(ports);
    EXPECT_EQ(table.substr(0, table.find('\n')),
              "PORT  DEVICE" + std::string(dev.size() + 8 - 6 + 2, ' ') + "STABLE NAME" +
                  std::string(dev.size() + 36 - 11 + 2, ' ') + "OPENS");
    EXPECT_NE(table.find("\n-     " + dev + "/ttyUSB7  -  "), std::string::npos) << table;
    EXPECT_EQ(loader::FormatPortList({}), "No serial ports found.\n");
}

} // namespace

#include "driveprovider.h"

#include "drivemanager.h"
#include "fakedriveprovider.h"
#include "linuxdriveprovider.h"
#include "options.h"

DriveProvider::DriveProvider(DriveManager *parent)
    : QObject(parent)
{ }

DriveProvider *DriveProvider::create(DriveManager *parent)
{
    if (options.testing)
        return new FakeDriveProvider(parent);
    return new LinuxDriveProvider(parent);
}

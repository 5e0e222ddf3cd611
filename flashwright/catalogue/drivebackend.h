#pragma once

// What the catalogue asks of the drive side: whether drives can be listed and
// written at all. A ready image reports that writing is not possible while the
// back end is broken. The drive list implements it; the catalogue only points
// at it, so the catalogue does not depend on the drives.
class DriveBackend
{
public:
    [[nodiscard]] virtual bool isBackendBroken() const = 0;

protected:
    ~DriveBackend() = default;
};

import QtQuick

// The grid unit and the enumerations that every page shares. Editions, Source,
// DownloadStatus, RestoreStatus and Status repeat the numbering of the
// program's own Release::Edition, Release::Source, ReleaseVariant::Status,
// Drive::RestoreStatus and ReleaseVersion::Status: the pages compare them with
// the plain integers those objects hand out, so the orders must stay in step.
QtObject {
    id: units

    enum Page {
        MainPage,
        EditionsPage,
        VersionPage,
        DrivePage,
        DownloadPage,
        RestorePage,
        CertPage
    }

    // Restore is never assigned; it keeps the numbering of the other two.
    enum MainSelect {
        Download,
        Write,
        Restore
    }

    enum Editions {
        Standart,
        Cert,
        Home,
        Education,
        None
    }

    enum Source {
        ZV80,
        ZV73,
        Local,
        Other
    }

    enum DownloadStatus {
        Preparing,
        Downloading,
        Download_Verifying,
        Ready,
        Writing_Not_Possible,
        Writing,
        Write_Verifying,
        Finished,
        Failed_Verification,
        Failed_Download,
        Failed
    }

    enum RestoreStatus {
        Clean,
        Contains_Live,
        Restoring,
        Restore_Error,
        Restored
    }

    enum Status {
        FINAL,
        RELEASE_CANDIDATE,
        BETA,
        ALPHA
    }

    // The height of an "M" in the default font: the window grows with the
    // desktop's font so that nothing is cut off with large fonts.
    readonly property real gridUnit: metrics.boundingRect.height
    readonly property TextMetrics metrics: TextMetrics {
        text: "M"
    }
}

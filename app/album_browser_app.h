#pragma once
// The application object: start-up, the one modal run of the main window, and shutdown.
#include <string>

struct AlbumCatalogue;

class CAlbumBrowserApp {
  public:
    explicit CAlbumBrowserApp(AlbumCatalogue& catalogue) : catalogue_(catalogue) {}

    // Brings the program up, runs the main window until it closes and takes the program down. Always
    // false: there is no message loop of the application's own afterwards.
    bool InitInstance();

  private:
    AlbumCatalogue& catalogue_;
    // The current directory when start-up began: the folder of config.ini.
    std::string startupDirectory_;
};

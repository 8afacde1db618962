// The demo kit's stand-in editor: it reads config.xml beside itself, prints
// the file-browser root it finds there, and exits. With QUILLGATE_DEMO_LOG
// set it also appends the line to that file.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
    if (argc < 1) return 1;
    std::filesystem::path config = std::filesystem::path(argv[0]).parent_path() / "config.xml";
    std::ifstream in(config, std::ios::binary);
    std::stringstream whole;
    whole << in.rdbuf();
    const std::string content = whole.str();

    std::string root = "(none)";
    std::size_t browser = content.find("<FileBrowser");
    std::size_t element = browser == std::string::npos ? browser : content.find("<root", browser);
    std::size_t attribute = element == std::string::npos ? element : content.find("foldername=\"", element);
    if (attribute != std::string::npos) {
        attribute += 12;
        std::size_t end = content.find('"', attribute);
        if (end != std::string::npos) root = content.substr(attribute, end - attribute);
    }
    std::cout << "  editor: file-browser root is " << root << std::endl;
    // Under Wine the launcher's console is hidden; the demo reads this file.
    if (const char* log = std::getenv("QUILLGATE_DEMO_LOG")) {
        std::ofstream(log, std::ios::app) << "  editor: file-browser root is " << root << "\n";
    }
    return 0;
}

// Holds <dir>/Mpdms.dbf open (shared) from a second process: writes <dir>/held once the table
// is open and keeps it open until <dir>/release exists.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "rdd/rdd.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::filesystem::path dir = argv[1];
  rdd::OpenOptions options;
  options.shared = true;
  auto table = rdd::Table::open("Mpdms.dbf", dir.string(), options);
  if (!table) return 1;
  std::ofstream(dir / "held") << "held\n";
  while (!std::filesystem::exists(dir / "release")) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  table->close();
  return 0;
}

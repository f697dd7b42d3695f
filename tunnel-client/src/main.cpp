#include "driver/client.h"

int main(int argc, char** argv) { return ostrel::Client::run(argc, argv); }

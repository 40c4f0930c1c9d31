// Wrenpost: a POP3 mail checker and viewer for Japanese mail.

#include "ui/mail_app.h"

int main(int argc, char** argv) {
    return wp::RunWrenpost(argc, argv);
}

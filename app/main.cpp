#include "app/recovery_app.h"

int main(int argc, char** argv) {
    kestrel::CKSTLDevRecoveryApp app(argc, argv);
    return app.Run();
}

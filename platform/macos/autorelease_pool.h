#pragma once
// For Objective-C++ sources built with manual retain and release (Apple's
// toolchain and GCC against GNUstep alike).

#import <Foundation/Foundation.h>

namespace kb {

// Autoreleased objects made in a scope are released at its end.
class AutoreleasePool {
public:
    AutoreleasePool() : pool_([[NSAutoreleasePool alloc] init]) {}
    ~AutoreleasePool() { [pool_ drain]; }
    AutoreleasePool(const AutoreleasePool&) = delete;
    AutoreleasePool& operator=(const AutoreleasePool&) = delete;

private:
    NSAutoreleasePool* pool_;
};

}  // namespace kb

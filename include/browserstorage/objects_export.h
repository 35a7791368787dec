// Symbol export for the object factory library (libbrowserobjects.so); everything it does not
// mark here stays hidden.
#pragma once

#define BROWSER_OBJECTS_API __attribute__((visibility("default")))

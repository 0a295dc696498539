// Property lists read and written by Foundation: on Apple's systems the
// reader launchd itself uses (XML in whichever encoding it declares or marks,
// and binary), and GNUstep's where the tests try it on Linux. Written with
// manual retain and release and no Objective-C literals, so that GCC builds
// it against GNUstep too.

#import <Foundation/Foundation.h>

#include "core/property_list.h"
#include "platform/macos/autorelease_pool.h"

#include <cstring>
#include <stdexcept>

namespace kb {

struct PropertyList::Node {
    explicit Node(NSMutableDictionary* held) : dictionary([held retain]) {}
    ~Node() { [dictionary release]; }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    NSMutableDictionary* dictionary;
};

namespace {

// UTF-8 text as Foundation takes it; std::runtime_error for any other bytes.
NSString* foundationText(std::string_view text)
{
    NSString* made = [[NSString alloc] initWithBytes:text.data() length:text.size() encoding:NSUTF8StringEncoding];
    if (!made) throw std::runtime_error("a property list can hold no text that is not UTF-8");
    return [made autorelease];
}

// A string's UTF-8 bytes, a NUL among them kept. Half of a surrogate pair,
// which no UTF-8 holds, becomes bytes that no UTF-8 reader takes either, so
// that such text is refused afterwards rather than changed here.
std::string bytesOf(NSString* text)
{
    NSData* data = [text dataUsingEncoding:NSUTF8StringEncoding];
    if (!data) return "\xED\xA0\x80";
    return std::string(static_cast<const char*>([data bytes]), [data length]);
}

id valueOf(const PropertyList::Node& node, std::string_view key)
{
    return [node.dictionary objectForKey:foundationText(key)];
}

bool isFlag(id value)
{
    if (![value isKindOfClass:[NSNumber class]]) return false;
#if defined(GNUSTEP)
    const char* type = [value objCType];
    return std::strcmp(type, @encode(BOOL)) == 0 || std::strcmp(type, "B") == 0;
#else
    return CFGetTypeID(static_cast<CFTypeRef>(value)) == CFBooleanGetTypeID();
#endif
}

}  // namespace

PropertyList::PropertyList() : node_(std::make_unique<Node>([NSMutableDictionary dictionary])) {}
PropertyList::PropertyList(std::unique_ptr<Node> node) : node_(std::move(node)) {}
PropertyList::~PropertyList() = default;
PropertyList::PropertyList(PropertyList&&) noexcept = default;
PropertyList& PropertyList::operator=(PropertyList&&) noexcept = default;

std::optional<PropertyList> PropertyList::parse(std::string_view text, std::string_view original)
{
    AutoreleasePool pool;
#if defined(GNUSTEP)
    // GNUstep reads XML in UTF-8 only, as the caller has made it already.
    (void)original;
    const std::string_view bytes = text;
#else
    // Apple's reader reads every encoding launchd reads.
    (void)text;
    const std::string_view bytes = original;
#endif
    NSData* data = [NSData dataWithBytes:bytes.data() length:bytes.size()];
    NSPropertyListFormat format = NSPropertyListXMLFormat_v1_0;
    NSError* error = nil;
    id list = [NSPropertyListSerialization propertyListWithData:data
                                                        options:NSPropertyListMutableContainersAndLeaves
                                                         format:&format
                                                          error:&error];
    if (![list isKindOfClass:[NSMutableDictionary class]]) return std::nullopt;
    return PropertyList(std::make_unique<Node>(list));
}

bool PropertyList::has(std::string_view key) const
{
    AutoreleasePool pool;
    return valueOf(*node_, key) != nil;
}

std::optional<std::string> PropertyList::text(std::string_view key) const
{
    AutoreleasePool pool;
    id value = valueOf(*node_, key);
    if (![value isKindOfClass:[NSString class]]) return std::nullopt;
    return bytesOf(value);
}

std::optional<std::vector<std::string>> PropertyList::texts(std::string_view key) const
{
    AutoreleasePool pool;
    id array = valueOf(*node_, key);
    if (![array isKindOfClass:[NSArray class]]) return std::nullopt;
    std::vector<std::string> values;
    for (NSUInteger i = 0; i < [array count]; ++i) {
        id value = [array objectAtIndex:i];
        if (![value isKindOfClass:[NSString class]]) return std::nullopt;
        values.push_back(bytesOf(value));
    }
    return values;
}

std::optional<bool> PropertyList::flag(std::string_view key) const
{
    AutoreleasePool pool;
    id value = valueOf(*node_, key);
    if (!isFlag(value)) return std::nullopt;
    return [value boolValue] != NO;
}

void PropertyList::setText(std::string_view key, const std::string& value)
{
    AutoreleasePool pool;
    [node_->dictionary setObject:foundationText(value) forKey:foundationText(key)];
}

void PropertyList::setTexts(std::string_view key, const std::vector<std::string>& values)
{
    AutoreleasePool pool;
    NSMutableArray* array = [NSMutableArray arrayWithCapacity:values.size()];
    for (const std::string& value : values) [array addObject:foundationText(value)];
    [node_->dictionary setObject:array forKey:foundationText(key)];
}

void PropertyList::setFlag(std::string_view key, bool value)
{
    AutoreleasePool pool;
    [node_->dictionary setObject:[NSNumber numberWithBool:value ? YES : NO] forKey:foundationText(key)];
}

std::string PropertyList::xml() const
{
    AutoreleasePool pool;
    NSError* error = nil;
    NSData* data = [NSPropertyListSerialization dataWithPropertyList:node_->dictionary
                                                              format:NSPropertyListXMLFormat_v1_0
                                                             options:0
                                                               error:&error];
    if (!data) throw std::runtime_error("Foundation could not write the property list as XML");
    return std::string(static_cast<const char*>([data bytes]), [data length]);
}

}  // namespace kb

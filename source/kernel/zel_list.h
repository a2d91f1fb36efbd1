/* Intrusive lists. Nodes live inside the records they link. */
#ifndef ZEL_LIST_H
#define ZEL_LIST_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The record that holds `ptr` as its member `member`. */
#define ZEL_CONTAINER_OF(ptr, type, member) ((type *)((char *)(ptr)-offsetof(type, member)))

typedef struct zel_dlist_node {
    struct zel_dlist_node *next;
    struct zel_dlist_node *prev;
} zel_dlist_node_t;

typedef struct zel_dlist {
    zel_dlist_node_t *head;
    zel_dlist_node_t *tail;
} zel_dlist_t;

static inline void zel_dlist_init(zel_dlist_t *list) { list->head = list->tail = NULL; }

static inline bool zel_dlist_is_empty(const zel_dlist_t *list) { return list->head == NULL; }

/* True when either link is set, or the node is the head (a queue of one). */
static inline bool zel_dlist_is_in(const zel_dlist_t *list, const zel_dlist_node_t *node) {
    return node->next != NULL || node->prev != NULL || list->head == node;
}

static inline void zel_dlist_append(zel_dlist_t *list, zel_dlist_node_t *node) {
    node->prev = list->tail;
    node->next = NULL;
    if (list->tail)
        list->tail->next = node;
    else
        list->head = node;
    list->tail = node;
}

static inline zel_dlist_node_t *zel_dlist_dequeue(zel_dlist_t *list) {
    zel_dlist_node_t *node = list->head;
    if (!node) return NULL;
    list->head = node->next;
    if (list->head)
        list->head->prev = NULL;
    else
        list->tail = NULL;
    node->next = NULL;
    node->prev = NULL;
    return node;
}

static inline void zel_dlist_insert_before(zel_dlist_t *list, zel_dlist_node_t *before, zel_dlist_node_t *node) {
    node->next = before;
    node->prev = before->prev;
    before->prev = node;
    if (node->prev)
        node->prev->next = node;
    else
        list->head = node;
}

static inline void zel_dlist_remove(zel_dlist_t *list, zel_dlist_node_t *node) {
    if (node->prev)
        node->prev->next = node->next;
    else
        list->head = node->next;
    if (node->next)
        node->next->prev = node->prev;
    else
        list->tail = node->prev;
    node->next = NULL;
    node->prev = NULL;
}

/* Singly linked list whose link lies at `link_offset` inside each record. */
void zel_slist_append(void **head, void *node, size_t link_offset);

#ifdef __cplusplus
}
#endif

#endif
